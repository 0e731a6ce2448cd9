#include "number_parse.h"

#include <string_view>

#include "decimal_number.h"

namespace sim {

bool ParseScaledUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t scale = 1;
  std::string_view digits = text;
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
  if (scale != 1) digits.remove_suffix(1);
  uint64_t number = 0;
  if (!common::ParseDecimal(digits, max / scale, &number)) return false;
  *value = number * scale;
  return true;
}

bool ParseProbability(const std::string& text, double* value) {
  return common::ParseDecimalFraction(text, 1.0, value);
}

bool ParseRange(const std::string& text, uint64_t low, uint64_t high, uint64_t* min, uint64_t* max) {
  const size_t dash = text.find('-');
  const std::string_view whole = text;
  uint64_t first = 0;
  uint64_t last = 0;
  if (dash == std::string::npos) {
    if (!common::ParseDecimal(whole, high, &first)) return false;
    last = first;
  } else if (!common::ParseDecimal(whole.substr(0, dash), high, &first) ||
             !common::ParseDecimal(whole.substr(dash + 1), high, &last)) {
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
