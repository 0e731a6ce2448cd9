#include "baseline_record.h"

#include <gtest/gtest.h>

#include <vector>

#include "capture_encoder.h"
#include "generated_frame.h"

namespace {

// The baseline must write exactly the bytes the receiver stores, or the
// comparison is between different amounts of work.
TEST(BaselineRecord, EqualsTheCaptureRecordOfTheFrame) {
  for (uint32_t n : {2u, 3u, 13u, 64u, 256u, 4096u, 65535u}) {
    SCOPED_TRACE(n);
    sim::FrameShape shape;
    shape.minLength = shape.maxLength = n;
    shape.nonJShare = 0;
    sim::FrameGenerator generator;
    sim::InitFrameGenerator(shape, &generator);
    const std::vector<uint8_t> frame = sim::GeneratedFrame(generator, 300);
    std::vector<uint8_t> expected;
    std::string error;
    ASSERT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &expected, &error)) << error;

    std::vector<uint8_t> buffer(bench::kRecordHeadroom + n, 0xEE);
    std::copy(frame.begin(), frame.end(), buffer.begin() + bench::kRecordHeadroom);
    bench::TurnFrameIntoRecord(buffer.data(), static_cast<uint16_t>(n));
    EXPECT_EQ(buffer, expected);
  }
}

}  // namespace
