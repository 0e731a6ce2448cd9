#include "decimal_number.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DecimalNumber, WholeNumbersAreDigitsOnlyUpToTheLimit) {
  const struct {
    const char* text;
    uint64_t max;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", 10, true, 0},
      {"10", 10, true, 10},
      {"11", 10, false, 0},
      {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"00000000000000000000000042", UINT64_MAX, true, 42},
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"99999999999999999999", UINT64_MAX, false, 0},
      {"", 10, false, 0},
      {"-1", 10, false, 0},
      {"+1", 10, false, 0},
      {" 1", 10, false, 0},
      {"1 ", 10, false, 0},
      {"1x", 10, false, 0},
      {"0x1", 10, false, 0},
      {"1e3", UINT64_MAX, false, 0},
      {"1.0", 10, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(common::ParseDecimal(c.text, c.max, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 12345) << c.text;
  }
}

TEST(DecimalNumber, OnlyTheGivenTextIsRead) {
  // A view into a longer string: the digits after it are not part of it.
  const std::string text = "12345";
  uint64_t value = 0;
  ASSERT_TRUE(common::ParseDecimal(std::string_view(text).substr(0, 2), UINT64_MAX, &value));
  EXPECT_EQ(value, 12u);
}

TEST(DecimalNumber, FractionsHaveAtMostOnePointAndNoSignOrExponent) {
  const struct {
    const char* text;
    double max;
    bool ok;
    double value;
  } cases[] = {
      {"0", 1, true, 0},        {"1", 1, true, 1},       {"0.01", 1, true, 0.01}, {".5", 1, true, 0.5},
      {"2.", 5, true, 2},       {"1.0", 1, true, 1},     {"1.01", 1, false, 0},   {"", 1, false, 0},
      {".", 1, false, 0},       {"-0.1", 1, false, 0},   {"+1", 1, false, 0},     {"inf", 1e300, false, 0},
      {"nan", 1e300, false, 0}, {"1e-3", 1, false, 0},   {"0.1.2", 1, false, 0},  {" 0.1", 1, false, 0},
      {"0.1 ", 1, false, 0},    {"0x1p-3", 1, false, 0},
  };
  for (const auto& c : cases) {
    double value = 7;
    EXPECT_EQ(common::ParseDecimalFraction(c.text, c.max, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 7) << c.text;
  }
  // Too large for a double at all.
  double value = 7;
  EXPECT_FALSE(common::ParseDecimalFraction("1" + std::string(400, '0'), 1e308, &value));
  EXPECT_EQ(value, 7);
}

}  // namespace
