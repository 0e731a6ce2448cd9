#include "speed_meter.h"

#include <gtest/gtest.h>

namespace {

class SpeedMeterTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTransferSpeedMeter(); }
};

TEST_F(SpeedMeterTest, FirstCallReportsItsOwnCountEvenZero) {
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 0), 0);
  ResetTransferSpeedMeter();
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 700), 700);
}

TEST_F(SpeedMeterTest, GathersWithinASecondAndReportsOnTheNext) {
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 1), 1);
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 100), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 200), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(1000, 300), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(1001, 50), 650);
  // A gap of two seconds reports two seconds' worth: no division by time.
  EXPECT_EQ(MeasureTransferSpeedAt(1001, 65535), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(1003, 65535), 131070);
}

TEST_F(SpeedMeterTest, AClockThatGoesBackKeepsGatheringUntilItPassesTheLastReport) {
  EXPECT_EQ(MeasureTransferSpeedAt(5000, 10), 10);
  EXPECT_EQ(MeasureTransferSpeedAt(5000 - 3600, 20), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(4999, 30), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(5000, 40), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(5001, 1), 91);
}

TEST_F(SpeedMeterTest, TheSumWrapsModulo2To32) {
  MeasureTransferSpeedAt(1, 0);
  // 65537 calls of 65535 bytes make 2^32 - 1; seven more wrap round to 6.
  uint64_t total = 0;
  for (int i = 0; i < 65537; ++i) {
    MeasureTransferSpeedAt(1, 65535);
    total += 65535;
  }
  EXPECT_EQ(static_cast<uint32_t>(MeasureTransferSpeedAt(2, 7)), static_cast<uint32_t>(total + 7));
}

TEST_F(SpeedMeterTest, ASumOf2To32Minus1LooksLikeNoReportButStillClears) {
  MeasureTransferSpeedAt(1, 0);
  // 65537 * 65535 = 2^32 - 1.
  for (int i = 0; i < 65536; ++i) MeasureTransferSpeedAt(1, 65535);
  EXPECT_EQ(MeasureTransferSpeedAt(2, 65535), -1);
  EXPECT_EQ(MeasureTransferSpeedAt(3, 5), 5);
}

TEST(StatusLine, ShowsKilobytesAndMegabytesWithTwoDecimals) {
  EXPECT_EQ(FormatStatusLine(2560, 1572864), "Transfer Speed, 2.50 KBytes/S        File size, 1.50 MB \r");
  EXPECT_EQ(FormatStatusLine(0, 0), "Transfer Speed, 0.00 KBytes/S        File size, 0.00 MB \r");
  // A failed file's position of -1 shows as a negative zero.
  EXPECT_EQ(FormatStatusLine(1024, -1), "Transfer Speed, 1.00 KBytes/S        File size, -0.00 MB \r");
  // The meter's result is taken as unsigned.
  EXPECT_EQ(FormatStatusLine(0xFFFFFFFEu, 0),
            "Transfer Speed, 4194304.00 KBytes/S        File size, 0.00 MB \r");
}

}  // namespace
