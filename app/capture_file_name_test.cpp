#include "capture_file_name.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(CaptureFileName, FormatsTheLocalTimeZeroPadded) {
  std::tm t{};
  t.tm_year = 2019 - 1900;
  t.tm_mon = 7;
  t.tm_mday = 30;
  t.tm_hour = 10;
  t.tm_min = 36;
  t.tm_sec = 13;
  EXPECT_EQ(FormatCaptureFileName(t), "ornix_2019-08-30_10-36-13");
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 3;
  t.tm_min = 4;
  t.tm_sec = 5;
  EXPECT_EQ(FormatCaptureFileName(t), "ornix_2026-01-02_03-04-05");
}

TEST(CaptureFileName, NowHasTheSameShapeAndNoExtension) {
  EXPECT_TRUE(std::regex_match(MakeCaptureFileName(), std::regex(R"(ornix_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)")));
}

}  // namespace
