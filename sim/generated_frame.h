// Deterministic frames, as the simulated SPI master sends them.
//
// Frame seq of a generator configuration is a pure function of (seed, seq):
// its length, whether it starts with 'J', and every byte. So a test or a
// benchmark can regenerate exactly what was sent and compare a capture with
// it, and a stored frame can be checked on its own.
//
// Layout of a frame of n bytes (fields are cut off where n ends):
//
//   offset 0       1 byte   'J', or another upper-case letter for a non-J frame
//   offset 1       8 bytes  seq, little-endian
//   offset 9       4 bytes  checksum, little-endian (only when n >= 13)
//   offset 13  n - 13 bytes payload: a seq-dependent slice of a pseudo-random
//                           block derived from the seed
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

// The generator configuration that determines the frames.
struct FrameShape {
  uint64_t seed = 1;
  uint32_t minLength = 4096;  // 1 ..= maxLength
  uint32_t maxLength = 4096;  // ..= kMaxFrameLength
  double nonJShare = 0.01;    // share of frames whose first byte is not 'J'
};

// The shape plus the tables that make producing a frame cost little more than
// one copy: the pseudo-random block and its running sums for the checksum.
struct FrameGenerator {
  FrameShape shape;
  // The seed mixed with each salt, so a frame's hashes cost one mix each.
  uint64_t lengthKey = 0;
  uint64_t markerKey = 0;
  uint64_t offsetKey = 0;
  std::vector<uint8_t> block;
  std::vector<uint16_t> sums;          // sums[k] = block[0] + .. + block[k-1]
  std::vector<uint16_t> weightedSums;  // weightedSums[k] = sum of i * block[i], i < k
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
