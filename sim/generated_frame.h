// Deterministic frames, as the simulated SPI master sends them.
//
// Frame seq of a generator configuration is a pure function of (seed, seq):
// its length, whether it starts with 'J', and every byte. So a test or a
// benchmark can regenerate exactly what was sent and compare a capture with
// it, and a stored frame can be checked on its own.
//
// Layout of a frame of n bytes, as a sensor board's frame might be (fields are
// cut off where n ends; docs/sim-frame.layout says the same for spi-capture
// --layout and the Python module):
//
//   offset    0     1 byte    'J', or another upper-case letter for a non-J frame
//   offset    1     u64le     seq
//   offset    9     u32le     checksum (only when n >= 13)
//   offset   13     u32le     t_us: the master's clock in microseconds,
//                             seq * 4096 modulo 2^32 (one frame per 4096 us)
//   offset   17     u16be     the frame's length n
//   offset   19     i16le[256] channel a: round(1000 * sin(2 pi p / 200))
//   offset  531     i16le[256] channel b: a triangle, p < 100 ? -1000 + 20 p
//                             : 1000 - 20 (p - 100)
//   offset 1043     n - 1043 bytes of filler: a seq-dependent slice of a
//                             pseudo-random block derived from the seed
//
// Sample k (0..255) of a frame is sample n = seq * 256 + k of the stream, and
// p = n mod 200 (of the exact n, which never wraps): the period does not
// divide 256, so each frame starts at another phase and the channels run on
// across frames without a seam. round() takes halves away from zero (no
// sample comes near one, so every build gives the same numbers).
// Frames shorter than 13 bytes carry what fits of the seq and then block
// bytes, no fields.
//
// The checksum covers every byte of the frame except its own four: its low
// 16 bits are the sum of the bytes, its high 16 bits the sum of (position + 1)
// times each byte, both modulo 65536. Any single changed byte changes the low
// half; swapped bytes change the high half.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture_format.h"

namespace sim {

// The longest frame one read delivers, and the longest a record holds.
constexpr uint32_t kMaxFrameLength = capture::kMaxFrameLength;
constexpr size_t kFrameSeqOffset = 1;
constexpr size_t kFrameChecksumOffset = 9;
constexpr size_t kFrameHeaderLength = 13;  // shorter frames carry no checksum
constexpr size_t kFrameTimeOffset = 13;
constexpr size_t kFrameLengthOffset = 17;
constexpr size_t kFrameChannelAOffset = 19;
constexpr size_t kFrameChannelBOffset = 531;
constexpr size_t kFrameFillerOffset = 1043;
constexpr uint32_t kFrameMicroseconds = 4096;  // t_us advances this much per frame
constexpr size_t kChannelSamples = 256;        // per channel and frame
constexpr size_t kChannelPeriod = 200;         // samples
constexpr int kChannelAmplitude = 1000;

// The generator configuration that determines the frames.
struct FrameShape {
  uint64_t seed = 1;
  uint32_t minLength = 4096;  // 1 ..= maxLength
  uint32_t maxLength = 4096;  // ..= kMaxFrameLength
  double nonJShare = 0.01;    // share of frames whose first byte is not 'J'
};

// Bytes with running sums, so the checksum's share of any slice costs O(1).
struct SummedBytes {
  std::vector<uint8_t> bytes;
  std::vector<uint16_t> sums;          // sums[k] = bytes[0] + .. + bytes[k-1]
  std::vector<uint16_t> weightedSums;  // weightedSums[k] = sum of i * bytes[i], i < k
};

// The shape plus the tables that make producing a frame cost a few copies:
// the pseudo-random block and both channels, each with running sums for the
// checksum.
struct FrameGenerator {
  FrameShape shape;
  // The seed mixed with each salt, so a frame's hashes cost one mix each.
  uint64_t lengthKey = 0;
  uint64_t markerKey = 0;
  uint64_t offsetKey = 0;
  SummedBytes block;
  // Samples p = 0 .. kChannelPeriod + kChannelSamples - 1 (taken modulo the
  // period) as i16le bytes: a frame's 256 samples are one contiguous slice.
  SummedBytes channelA;
  SummedBytes channelB;
};

void InitFrameGenerator(const FrameShape& shape, FrameGenerator* generator);

uint32_t GeneratedFrameLength(const FrameGenerator& generator, uint64_t seq);
// 'J' or the non-J letter that frame seq starts with.
uint8_t GeneratedFrameMarker(const FrameGenerator& generator, uint64_t seq);
inline bool GeneratedFrameIsJ(const FrameGenerator& generator, uint64_t seq) {
  return GeneratedFrameMarker(generator, seq) == capture::kFrameMarker;
}

// Writes a frame of the given length and first byte with the layout above;
// out must have room for length bytes. Scripted frames use it with their own
// marker and length.
void WriteFrame(const FrameGenerator& generator, uint64_t seq, uint8_t marker, uint32_t length, uint8_t* out);

// Writes frame seq of the generator (GeneratedFrameLength bytes) and returns
// its length.
uint32_t WriteGeneratedFrame(const FrameGenerator& generator, uint64_t seq, uint8_t* out);
std::vector<uint8_t> GeneratedFrame(const FrameGenerator& generator, uint64_t seq);

enum class FrameCheck {
  kIntact,      // the checksum matches
  kCorrupt,     // the checksum does not match
  kNoChecksum,  // shorter than kFrameHeaderLength: nothing to check against
};

// Checks a frame on its own and reads its seq. For kNoChecksum frames *seq
// holds only the seq bytes the frame carries (none for a 1-byte frame).
FrameCheck CheckGeneratedFrame(const uint8_t* data, size_t size, uint64_t* seq);

// True when data is exactly frame seq of the generator, byte for byte.
bool IsGeneratedFrame(const FrameGenerator& generator, uint64_t seq, const uint8_t* data, size_t size);

// Walks the frames a configuration sends, in order. With onlyJ it skips the
// frames the receiver does not store, so the frames it yields are what a
// complete capture holds. limit 0 means no end.
struct ExpectedFrames {
  const FrameGenerator* generator = nullptr;
  uint64_t nextSeq = 0;
  uint64_t limit = 0;
  bool onlyJ = true;
};

// Produces the next expected frame and its seq; false at the end.
bool NextExpectedFrame(ExpectedFrames* walk, std::vector<uint8_t>* frame, uint64_t* seq);

}  // namespace sim
