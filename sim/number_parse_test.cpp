#include "number_parse.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberParse, ScaledAndProbabilityAndRange) {
  uint64_t value = 0;
  EXPECT_TRUE(sim::ParseScaledUnsigned("2k", UINT64_MAX, &value));
  EXPECT_EQ(value, 2000u);
  EXPECT_TRUE(sim::ParseScaledUnsigned("3M", UINT64_MAX, &value));
  EXPECT_EQ(value, 3000000u);
  EXPECT_FALSE(sim::ParseScaledUnsigned("2G", 1000, &value));
  EXPECT_FALSE(sim::ParseScaledUnsigned("k", UINT64_MAX, &value));
  EXPECT_FALSE(sim::ParseScaledUnsigned("99999999999999999999G", UINT64_MAX, &value));
  EXPECT_TRUE(sim::ParseScaledUnsigned("18446744073G", UINT64_MAX, &value));
  EXPECT_EQ(value, 18446744073000000000u);
  EXPECT_FALSE(sim::ParseScaledUnsigned("18446744074G", UINT64_MAX, &value));  // past 2^64 once scaled
  EXPECT_FALSE(sim::ParseScaledUnsigned("-1k", UINT64_MAX, &value));

  double p = -1;
  for (const char* good : {"0", "1", "0.01", "1.0"}) EXPECT_TRUE(sim::ParseProbability(good, &p)) << good;
  for (const char* bad : {"1.01", "2", "1e-3"}) EXPECT_FALSE(sim::ParseProbability(bad, &p)) << bad;

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
