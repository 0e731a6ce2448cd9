#include "generated_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace {

sim::FrameGenerator MakeGenerator(uint64_t seed, uint32_t minLength, uint32_t maxLength, double nonJShare) {
  sim::FrameShape shape;
  shape.seed = seed;
  shape.minLength = minLength;
  shape.maxLength = maxLength;
  shape.nonJShare = nonJShare;
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(shape, &generator);
  return generator;
}

TEST(GeneratedFrame, DependsOnlyOnSeedAndSeq) {
  const sim::FrameGenerator a = MakeGenerator(7, 64, 65535, 0.1);
  const sim::FrameGenerator b = MakeGenerator(7, 64, 65535, 0.1);
  const sim::FrameGenerator other = MakeGenerator(8, 64, 65535, 0.1);
  for (uint64_t seq : {0ull, 1ull, 999ull, 123456789ull}) {
    EXPECT_EQ(sim::GeneratedFrame(a, seq), sim::GeneratedFrame(b, seq));
    EXPECT_NE(sim::GeneratedFrame(a, seq), sim::GeneratedFrame(other, seq));
  }
  // Out of order gives the same frames as in order.
  EXPECT_EQ(sim::GeneratedFrame(a, 5), sim::GeneratedFrame(b, 5));
}

TEST(GeneratedFrame, LengthsAndMarkersFollowTheShape) {
  const sim::FrameGenerator ranged = MakeGenerator(3, 100, 200, 0.25);
  int nonJ = 0;
  uint32_t shortest = 1000;
  uint32_t longest = 0;
  for (uint64_t seq = 0; seq < 4000; ++seq) {
    const std::vector<uint8_t> frame = sim::GeneratedFrame(ranged, seq);
    ASSERT_EQ(frame.size(), sim::GeneratedFrameLength(ranged, seq));
    shortest = std::min<uint32_t>(shortest, frame.size());
    longest = std::max<uint32_t>(longest, frame.size());
    if (frame[0] != 'J') {
      ++nonJ;
      EXPECT_GE(frame[0], 'A');
      EXPECT_LE(frame[0], 'Z');
    }
    EXPECT_EQ(frame[0] == 'J', sim::GeneratedFrameIsJ(ranged, seq));
  }
  EXPECT_EQ(shortest, 100u);
  EXPECT_EQ(longest, 200u);
  EXPECT_GT(nonJ, 800);  // about 1000 expected
  EXPECT_LT(nonJ, 1200);

  const sim::FrameGenerator allJ = MakeGenerator(3, 4096, 4096, 0.0);
  const sim::FrameGenerator noJ = MakeGenerator(3, 4096, 4096, 1.0);
  for (uint64_t seq = 0; seq < 500; ++seq) {
    EXPECT_TRUE(sim::GeneratedFrameIsJ(allJ, seq));
    EXPECT_FALSE(sim::GeneratedFrameIsJ(noJ, seq));
    EXPECT_EQ(sim::GeneratedFrameLength(allJ, seq), 4096u);
  }
}

// The generator computes the payload's checksum from running sums; the
// checker adds the bytes up. They must agree for every length and offset.
TEST(GeneratedFrame, EveryGeneratedFrameChecksIntact) {
  const sim::FrameGenerator generator = MakeGenerator(11, 13, 65535, 0.5);
  for (uint64_t seq = 0; seq < 1500; ++seq) {
    const std::vector<uint8_t> frame = sim::GeneratedFrame(generator, seq);
    uint64_t readSeq = 0;
    ASSERT_EQ(sim::CheckGeneratedFrame(frame.data(), frame.size(), &readSeq), sim::FrameCheck::kIntact)
        << "seq " << seq << " length " << frame.size();
    EXPECT_EQ(readSeq, seq);
  }
}

TEST(GeneratedFrame, AnyChangedByteOrSwapIsDetected) {
  const sim::FrameGenerator generator = MakeGenerator(5, 64, 64, 0.0);
  const std::vector<uint8_t> frame = sim::GeneratedFrame(generator, 42);
  uint64_t seq = 0;
  for (size_t i = 0; i < frame.size(); ++i) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> damaged = frame;
      damaged[i] ^= flip;
      EXPECT_EQ(sim::CheckGeneratedFrame(damaged.data(), damaged.size(), &seq), sim::FrameCheck::kCorrupt)
          << "byte " << i << " flip " << int(flip);
      EXPECT_FALSE(sim::IsGeneratedFrame(generator, 42, damaged.data(), damaged.size()));
    }
  }
  for (size_t i = sim::kFrameHeaderLength; i + 1 < frame.size(); ++i) {
    std::vector<uint8_t> swapped = frame;
    std::swap(swapped[i], swapped[i + 1]);
    if (swapped == frame) continue;
    EXPECT_EQ(sim::CheckGeneratedFrame(swapped.data(), swapped.size(), &seq), sim::FrameCheck::kCorrupt) << i;
  }
  // A frame cut short no longer checks either.
  EXPECT_EQ(sim::CheckGeneratedFrame(frame.data(), frame.size() - 1, &seq), sim::FrameCheck::kCorrupt);
}

TEST(GeneratedFrame, ShortFramesCarryWhatFitsOfTheSeq) {
  const uint64_t seq = 0x0807060504030201ull;
  const struct {
    uint32_t length;
    uint64_t expectedSeq;
  } cases[] = {
      {1, 0}, {2, 0x01}, {5, 0x04030201}, {9, seq}, {12, seq},
  };
  for (const auto& c : cases) {
    const sim::FrameGenerator generator = MakeGenerator(1, c.length, c.length, 0.0);
    const std::vector<uint8_t> frame = sim::GeneratedFrame(generator, seq);
    ASSERT_EQ(frame.size(), c.length);
    EXPECT_EQ(frame[0], 'J');
    uint64_t readSeq = 99;
    EXPECT_EQ(sim::CheckGeneratedFrame(frame.data(), frame.size(), &readSeq), sim::FrameCheck::kNoChecksum);
    EXPECT_EQ(readSeq, c.expectedSeq) << "length " << c.length;
    EXPECT_TRUE(sim::IsGeneratedFrame(generator, seq, frame.data(), frame.size()));
  }
}

// Sample n of each channel, written from the documented formulas on their own.
int16_t SineAt(uint64_t n) {
  const double p = static_cast<double>(n % 200);
  return static_cast<int16_t>(std::lround(1000.0 * std::sin(2 * 3.14159265358979323846 * p / 200.0)));
}

int16_t TriangleAt(uint64_t n) {
  const int p = static_cast<int>(n % 200);
  return static_cast<int16_t>(p < 100 ? -1000 + 20 * p : 1000 - 20 * (p - 100));
}

uint64_t Load(const std::vector<uint8_t>& frame, size_t at, size_t bytes) {  // little-endian
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint64_t{frame[at + i]} << 8 * i;
  return value;
}

// The fields decode to the documented values in every frame, whole or cut
// (a frame of n bytes holds the first n bytes of the longest frame, but for
// its checksum and length), and the checksum still guards them.
TEST(GeneratedFrame, FieldsDecodeToTheDocumentedValues) {
  const struct {
    uint64_t seq;
    uint32_t tUs;
    int16_t a0, b0;  // sample 0 of each channel
  } seqs[] = {
      {0, 0, 0, -1000},
      {1, 4096, 982, 120},
      {1048575, 4294963200u, 0, -1000},
      {1048576, 0, 982, 120},  // t_us wraps
      {123456789, 3167834112u, -482, -680},
      {UINT64_MAX, 4294963200u, 951, -200},  // n taken exactly, not modulo 2^64
  };
  const sim::FrameGenerator generator = MakeGenerator(4, 4096, 4096, 0.0);
  std::vector<uint8_t> longest(65535);
  for (const auto& c : seqs) {
    sim::WriteFrame(generator, c.seq, 'J', 65535, longest.data());
    EXPECT_EQ(Load(longest, 13, 4), c.tUs) << c.seq;
    EXPECT_EQ(longest[17] * 256 + longest[18], 65535);
    EXPECT_EQ(static_cast<int16_t>(Load(longest, 19, 2)), c.a0) << c.seq;
    EXPECT_EQ(static_cast<int16_t>(Load(longest, 531, 2)), c.b0) << c.seq;
    const uint64_t n0 = c.seq % 200 * 256;
    for (size_t k = 0; k < 256; ++k) {
      ASSERT_EQ(static_cast<int16_t>(Load(longest, 19 + 2 * k, 2)), SineAt(n0 + k)) << c.seq << " " << k;
      ASSERT_EQ(static_cast<int16_t>(Load(longest, 531 + 2 * k, 2)), TriangleAt(n0 + k)) << c.seq << " " << k;
    }

    for (uint32_t length : {13u, 14u, 18u, 19u, 20u, 531u, 1042u, 1043u, 1044u, 4096u, 65535u}) {
      std::vector<uint8_t> frame(length);
      sim::WriteFrame(generator, c.seq, 'J', length, frame.data());
      uint64_t seq = 0;
      ASSERT_EQ(sim::CheckGeneratedFrame(frame.data(), length, &seq), sim::FrameCheck::kIntact) << length;
      EXPECT_EQ(seq, c.seq);
      std::vector<uint8_t> expected(longest.begin(), longest.begin() + length);
      std::copy(frame.begin() + 9, frame.begin() + 13, expected.begin() + 9);
      if (length > 17) expected[17] = static_cast<uint8_t>(length >> 8);
      if (length > 18) expected[18] = static_cast<uint8_t>(length);
      ASSERT_EQ(frame, expected) << "seq " << c.seq << " length " << length;
      for (size_t at : {13, 16, 17, 18, 19, 530, 531, 1042, 1043}) {
        if (at >= length) continue;
        frame[at] ^= 0x10;
        EXPECT_EQ(sim::CheckGeneratedFrame(frame.data(), length, &seq), sim::FrameCheck::kCorrupt) << at;
        frame[at] ^= 0x10;
      }
    }
  }
}

TEST(GeneratedFrame, ExpectedFramesListWhatAReceiverStores) {
  const sim::FrameGenerator generator = MakeGenerator(9, 20, 300, 0.3);
  sim::ExpectedFrames all{&generator, 0, 50, false};
  sim::ExpectedFrames onlyJ{&generator, 0, 50, true};
  std::vector<uint8_t> frame;
  uint64_t seq = 0;
  uint64_t count = 0;
  while (sim::NextExpectedFrame(&all, &frame, &seq)) {
    EXPECT_EQ(seq, count++);
    EXPECT_EQ(frame, sim::GeneratedFrame(generator, seq));
  }
  EXPECT_EQ(count, 50u);

  uint64_t previous = 0;
  uint64_t jCount = 0;
  while (sim::NextExpectedFrame(&onlyJ, &frame, &seq)) {
    EXPECT_EQ(frame[0], 'J');
    EXPECT_TRUE(jCount == 0 || seq > previous);
    for (uint64_t skipped = jCount == 0 ? 0 : previous + 1; skipped < seq; ++skipped) {
      EXPECT_FALSE(sim::GeneratedFrameIsJ(generator, skipped));
    }
    previous = seq;
    ++jCount;
  }
  EXPECT_GT(jCount, 20u);
  EXPECT_LT(jCount, 50u);
}

}  // namespace
