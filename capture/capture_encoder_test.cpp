#include "capture_encoder.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(EncodeCaptureRecord, PutsTheLengthAfterTheFirstTwoBytes) {
  const Bytes frame = {'J', 0x01, 0xaa, 0xbb};
  Bytes out = {0x55};  // appends, never overwrites
  std::string error;
  ASSERT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &out, &error)) << error;
  EXPECT_EQ(out, (Bytes{0x55, 'J', 0x01, 4, 0, 0xaa, 0xbb}));

  Bytes big(65535, 0x11);
  big[0] = 'J';
  out.clear();
  ASSERT_TRUE(capture::EncodeCaptureRecord(big.data(), big.size(), &out, &error)) << error;
  ASSERT_EQ(out.size(), 65537u);
  EXPECT_EQ(out[2], 0xff);
  EXPECT_EQ(out[3], 0xff);
}

TEST(EncodeCaptureRecord, RefusesFramesTheFormatCannotHold) {
  Bytes frame(65536, 0);
  frame[0] = 'J';
  const struct {
    size_t n;
    uint8_t first;
    const char* message;
  } cases[] = {
      {0, 'J', "frame length 0 is outside 2..65535"},
      {1, 'J', "frame length 1 is outside 2..65535"},
      {65536, 'J', "frame length 65536 is outside 2..65535"},
      {2, 'K', "frame does not start with 'J'"},
  };
  for (const auto& c : cases) {
    frame[0] = c.first;
    Bytes out = {1, 2};
    std::string error;
    EXPECT_FALSE(capture::EncodeCaptureRecord(frame.data(), c.n, &out, &error));
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(out, (Bytes{1, 2}));
  }
}

}  // namespace
