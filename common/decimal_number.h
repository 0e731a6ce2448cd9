// Decimal numbers as command lines, scenarios and the simulator's figures
// write them. The whole text must be the number: a typo is refused, never
// read as 0 or as the digits before it.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace common {

// Digits only, no larger than max: no sign, blanks, base prefix or
// exponent; leading zeros are fine. *value is left alone on failure.
inline bool ParseDecimal(std::string_view text, uint64_t max, uint64_t* value) {
  const char* end = text.data() + text.size();
  uint64_t result = 0;
  const std::from_chars_result parsed = std::from_chars(text.data(), end, result);
  if (parsed.ec != std::errc() || parsed.ptr != end || result > max) return false;
  *value = result;
  return true;
}

// ParseDecimal's digits, or 0x (0X) and hex digits, no larger than max.
inline bool ParseDecimalOrHex(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return ParseDecimal(text, max, value);
  }
  const char* end = text.data() + text.size();
  uint64_t result = 0;
  const std::from_chars_result parsed = std::from_chars(text.data() + 2, end, result, 16);
  if (parsed.ec != std::errc() || parsed.ptr != end || result > max) return false;
  *value = result;
  return true;
}

// Digits with at most one decimal point ("0.25", "3", ".5"), no larger than
// max: no sign, exponent, blanks, inf or nan. *value is left alone on
// failure.
inline bool ParseDecimalFraction(std::string_view text, double max, double* value) {
  // from_chars would also take a sign, "inf" and "nan".
  bool point = false;
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  const char* end = text.data() + text.size();
  double result = 0;
  const std::from_chars_result parsed = std::from_chars(text.data(), end, result, std::chars_format::fixed);
  if (parsed.ec != std::errc() || parsed.ptr != end || !(result <= max)) return false;
  *value = result;
  return true;
}

}  // namespace common
