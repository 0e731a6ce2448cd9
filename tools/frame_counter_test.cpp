#include "frame_counter.h"

#include <gtest/gtest.h>

namespace {

tool::CounterField Field(size_t width, uint64_t step = 1, bool bigEndian = false) {
  tool::CounterField field;
  field.offset = 0;
  field.width = width;
  field.step = step;
  field.bigEndian = bigEndian;
  return field;
}

TEST(FrameCounter, ParsesOffsetWidthAndOrder) {
  tool::CounterField field;
  std::string error;
  ASSERT_TRUE(tool::ParseCounterField("1:8", &field, &error)) << error;
  EXPECT_EQ(field.offset, 1u);
  EXPECT_EQ(field.width, 8u);
  EXPECT_FALSE(field.bigEndian);
  ASSERT_TRUE(tool::ParseCounterField("12:2:be", &field, &error)) << error;
  EXPECT_TRUE(field.bigEndian);
  for (const char* bad : {"1", "1:", ":2", "1:3", "1:16", "1:2:", "1:2:LE", "70000:1", "1:2:le:x"}) {
    EXPECT_FALSE(tool::ParseCounterField(bad, &field, &error)) << bad;
  }
}

// Feeds values and returns the frames missing, or -1 when a jump is not
// explained by lost frames.
int64_t Missing(const tool::CounterField& field, const std::vector<uint64_t>& values) {
  tool::CounterTrack track;
  for (uint64_t value : values) tool::TrackCounter(&track, field, value);
  EXPECT_EQ(track.frames, values.size());
  return track.others > 0 ? -1 : static_cast<int64_t>(track.missing);
}

TEST(FrameCounter, CountsLostFramesAcrossTheWrap) {
  EXPECT_EQ(Missing(Field(1), {253, 254, 255, 0, 1}), 0);
  EXPECT_EQ(Missing(Field(1), {254, 255, 2}), 2);  // 0 and 1 lost across the wrap
  EXPECT_EQ(Missing(Field(8), {~uint64_t{0} - 1, ~uint64_t{0}, 0}), 0);
  EXPECT_EQ(Missing(Field(2, 3), {65532, 65535, 2, 11}), 2);  // step 3 wraps at 65536
  EXPECT_EQ(Missing(Field(4), {10, 11, 15, 16, 20}), 6);
}

TEST(FrameCounter, JumpsBackOrOffTheStepAreNotLostFrames) {
  EXPECT_EQ(Missing(Field(4), {10, 11, 11}), -1);     // repeated
  EXPECT_EQ(Missing(Field(4), {10, 11, 3}), -1);      // went back
  EXPECT_EQ(Missing(Field(4, 4), {0, 4, 9}), -1);     // not whole steps
  EXPECT_EQ(Missing(Field(4), {0, 1, 2, 0, 1}), -1);  // restarted
  // After an unexplained jump the count goes on from the value found.
  tool::CounterTrack track;
  const tool::CounterField field = Field(2);
  tool::TrackCounter(&track, field, 100);
  EXPECT_EQ(tool::TrackCounter(&track, field, 50).jump, tool::CounterJump::kOther);
  EXPECT_EQ(tool::TrackCounter(&track, field, 51).jump, tool::CounterJump::kNone);
}

}  // namespace
