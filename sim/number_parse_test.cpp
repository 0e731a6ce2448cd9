#include "number_parse.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberParse, UnsignedTakesOnlyWholeDecimalNumbersUpToTheLimit) {
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
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"", 10, false, 0},
      {"-1", 10, false, 0},
      {" 1", 10, false, 0},
      {"1x", 10, false, 0},
      {"0x1", 10, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(sim::ParseUnsigned(c.text, c.max, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(NumberParse, ScaledAndProbabilityAndRange) {
  uint64_t value = 0;
  EXPECT_TRUE(sim::ParseScaledUnsigned("2k", UINT64_MAX, &value));
  EXPECT_EQ(value, 2000u);
  EXPECT_TRUE(sim::ParseScaledUnsigned("3M", UINT64_MAX, &value));
  EXPECT_EQ(value, 3000000u);
  EXPECT_FALSE(sim::ParseScaledUnsigned("2G", 1000, &value));
  EXPECT_FALSE(sim::ParseScaledUnsigned("k", UINT64_MAX, &value));
  EXPECT_FALSE(sim::ParseScaledUnsigned("99999999999999999999G", UINT64_MAX, &value));

  double p = -1;
  for (const char* good : {"0", "1", "0.01", ".5", "1.0"})
    EXPECT_TRUE(sim::ParseProbability(good, &p)) << good;
  for (const char* bad : {"", ".", "1.01", "-0.1", "inf", "nan", "1e-3", "0.1.2", " 0.1"}) {
    EXPECT_FALSE(sim::ParseProbability(bad, &p)) << bad;
  }

  uint64_t low = 0;
  uint64_t high = 0;
  EXPECT_TRUE(sim::ParseRange("64-65535", 1, 65535, &low, &high));
  EXPECT_EQ(low, 64u);
  EXPECT_EQ(high, 65535u);
  EXPECT_TRUE(sim::ParseRange("7", 1, 65535, &low, &high));
  EXPECT_EQ(low, 7u);
  EXPECT_EQ(high, 7u);
  for (const char* bad : {"0", "65536", "10-5", "1-", "-5", "1-2-3", ""}) {
    EXPECT_FALSE(sim::ParseRange(bad, 1, 65535, &low, &high)) << bad;
  }
}

}  // namespace
