#include "number_parse.h"

#include <cstdlib>

namespace sim {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (result > max) return false;
  *value = result;
  return true;
}

bool ParseScaledUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t scale = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'k':
    case 'K':
      scale = 1000;
      break;
    case 'M':
      scale = 1000 * 1000;
      break;
    case 'G':
      scale = 1000 * 1000 * 1000;
      break;
    default:
      break;
  }
  if (scale != 1) digits.pop_back();
  uint64_t number = 0;
  if (!ParseUnsigned(digits, UINT64_MAX / scale, &number) || number * scale > max) return false;
  *value = number * scale;
  return true;
}

bool ParseProbability(const std::string& text, double* value) {
  // Digits and at most one point only: strtod would also take "inf", "0x1p-3"
  // and leading blanks.
  if (text.empty() || text.size() > 32) return false;
  int points = 0;
  int digits = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  if (points > 1 || digits == 0) return false;
  const double result = std::strtod(text.c_str(), nullptr);
  if (!(result >= 0.0 && result <= 1.0)) return false;
  *value = result;
  return true;
}

bool ParseRange(const std::string& text, uint64_t low, uint64_t high, uint64_t* min, uint64_t* max) {
  const size_t dash = text.find('-');
  uint64_t first = 0;
  uint64_t last = 0;
  if (dash == std::string::npos) {
    if (!ParseUnsigned(text, high, &first)) return false;
    last = first;
  } else if (!ParseUnsigned(text.substr(0, dash), high, &first) ||
             !ParseUnsigned(text.substr(dash + 1), high, &last)) {
    return false;
  }
  if (first < low || first > last) return false;
  *min = first;
  *max = last;
  return true;
}

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace sim
