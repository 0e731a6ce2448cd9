#include "bench_figures.h"

#include <gtest/gtest.h>

namespace {

TEST(BenchFigures, MedianTakesTheMiddleOrTheMeanOfTheMiddleTwo) {
  struct Case {
    std::vector<double> values;
    double median;
  };
  for (const Case& c : {Case{{}, 0}, Case{{5}, 5}, Case{{3, 1, 2}, 2}, Case{{4, 1, 3, 2}, 2.5},
                        Case{{0.9, 0.7, 100, 0.8, 0.75}, 0.8}}) {
    EXPECT_DOUBLE_EQ(bench::Median(c.values), c.median);
  }
}

TEST(BenchFigures, ProcStatusFieldsAreReadInKiBByExactKey) {
  const std::string status =
      "Name:\tspi-receiver\nVmPeak:\t   99999 kB\nVmHWM:\t    4321 kB\nVmRSS:\t    4100 kB\nRssAnon:\t 7 "
      "kB\n";
  uint64_t kib = 0;
  ASSERT_TRUE(bench::StatusKiB(status, "VmHWM", &kib));
  EXPECT_EQ(kib, 4321u);
  ASSERT_TRUE(bench::StatusKiB(status, "VmRSS", &kib));
  EXPECT_EQ(kib, 4100u);
  EXPECT_FALSE(bench::StatusKiB(status, "VmSwap", &kib));
  EXPECT_FALSE(bench::StatusKiB(status, "Name", &kib));  // not a number
  EXPECT_FALSE(bench::StatusKiB("VmHWM:\t   43x1 kB\n", "VmHWM", &kib));
}

TEST(BenchFigures, StatsValuesAreFoundByWholeKeyAtALineStart) {
  const std::string stats = "config=ok\nbytes_read=123456789012\nbytes_dropped=0\nreads=77\n";
  uint64_t value = 99;
  ASSERT_TRUE(bench::StatsValue(stats, "bytes_dropped", &value));
  EXPECT_EQ(value, 0u);
  ASSERT_TRUE(bench::StatsValue(stats, "bytes_read", &value));
  EXPECT_EQ(value, 123456789012u);
  ASSERT_TRUE(bench::StatsValue(stats, "reads", &value));  // not bytes_read's tail
  EXPECT_EQ(value, 77u);
  EXPECT_FALSE(bench::StatsValue(stats, "read", &value));
  EXPECT_FALSE(bench::StatsValue(stats, "config", &value));
}

}  // namespace
