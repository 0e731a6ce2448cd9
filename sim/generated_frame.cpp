#include "generated_frame.h"

#include <cstring>

#include "prng.h"

namespace sim {

namespace {

// Payload slices start anywhere in the first kBlockSpan bytes of the block.
constexpr size_t kBlockSpan = 65536;
constexpr size_t kBlockSize = kBlockSpan + kMaxFrameLength;

constexpr char kOtherLetters[] = "ABCDEFGHIKLMNOPQRSTUVWXYZ";  // every letter but J

constexpr uint64_t kLengthSalt = 0x6C656E67746821ull;
constexpr uint64_t kMarkerSalt = 0x6D61726B657221ull;
constexpr uint64_t kOffsetSalt = 0x6F66667365742Eull;

uint64_t KeyFor(const FrameShape& shape, uint64_t salt) {
  return Mix64(shape.seed ^ salt);
}

uint64_t FrameHash(uint64_t key, uint64_t seq) {
  return Mix64(key + seq);
}

// Adds the header bytes [from, to) to the two checksum halves.
void SumBytes(const uint8_t* frame, size_t from, size_t to, uint32_t* sum, uint32_t* weighted) {
  for (size_t i = from; i < to; ++i) {
    *sum += frame[i];
    *weighted += static_cast<uint32_t>(i + 1) * frame[i];
  }
}

uint32_t PackChecksum(uint32_t sum, uint32_t weighted) {
  return (sum & 0xFFFFu) | ((weighted & 0xFFFFu) << 16);
}

void StoreLittleEndian(uint64_t value, size_t bytes, uint8_t* out) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t LoadLittleEndian(const uint8_t* in, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

uint32_t ChecksumOf(const uint8_t* frame, size_t size) {
  uint32_t sum = 0;
  uint32_t weighted = 0;
  SumBytes(frame, 0, kFrameChecksumOffset, &sum, &weighted);
  SumBytes(frame, kFrameHeaderLength, size, &sum, &weighted);
  return PackChecksum(sum, weighted);
}

}  // namespace

void InitFrameGenerator(const FrameShape& shape, FrameGenerator* generator) {
  generator->shape = shape;
  generator->lengthKey = KeyFor(shape, kLengthSalt);
  generator->markerKey = KeyFor(shape, kMarkerSalt);
  generator->offsetKey = KeyFor(shape, kOffsetSalt);
  generator->block.resize(kBlockSize);
  Prng prng{shape.seed};
  for (size_t i = 0; i < kBlockSize; i += 8) {
    const uint64_t bits = NextRandom(&prng);
    for (size_t k = 0; k < 8 && i + k < kBlockSize; ++k)
      generator->block[i + k] = static_cast<uint8_t>(bits >> (8 * k));
  }
  generator->sums.assign(kBlockSize + 1, 0);
  generator->weightedSums.assign(kBlockSize + 1, 0);
  for (size_t i = 0; i < kBlockSize; ++i) {
    const uint8_t b = generator->block[i];
    generator->sums[i + 1] = static_cast<uint16_t>(generator->sums[i] + b);
    generator->weightedSums[i + 1] =
        static_cast<uint16_t>(generator->weightedSums[i] + static_cast<uint32_t>(i) * b);
  }
}

uint32_t GeneratedFrameLength(const FrameGenerator& generator, uint64_t seq) {
  const FrameShape& shape = generator.shape;
  if (shape.minLength >= shape.maxLength) return shape.minLength;
  const uint64_t span = static_cast<uint64_t>(shape.maxLength) - shape.minLength + 1;
  return shape.minLength + static_cast<uint32_t>(FrameHash(generator.lengthKey, seq) % span);
}

uint8_t GeneratedFrameMarker(const FrameGenerator& generator, uint64_t seq) {
  if (generator.shape.nonJShare <= 0.0) return capture::kFrameMarker;  // what the hash would say, unasked
  const uint64_t hash = FrameHash(generator.markerKey, seq);
  if (UnitFromBits(hash) >= generator.shape.nonJShare) return capture::kFrameMarker;
  return static_cast<uint8_t>(kOtherLetters[(hash & 0xFFFF) % (sizeof kOtherLetters - 1)]);
}

void WriteFrame(const FrameGenerator& generator, uint64_t seq, uint8_t marker, uint32_t length,
                uint8_t* out) {
  if (length == 0) return;
  out[0] = marker;
  if (length < kFrameHeaderLength) {
    // Too short for a checksum: as much of the seq as fits, then the block.
    const size_t seqBytes = length - 1 < 8 ? length - 1 : 8;
    StoreLittleEndian(seq, seqBytes, out + kFrameSeqOffset);
    for (size_t i = 1 + seqBytes; i < length; ++i) out[i] = generator.block[i];
    return;
  }
  StoreLittleEndian(seq, 8, out + kFrameSeqOffset);
  const size_t payload = length - kFrameHeaderLength;
  const size_t offset = FrameHash(generator.offsetKey, seq) % kBlockSpan;
  std::memcpy(out + kFrameHeaderLength, generator.block.data() + offset, payload);

  // The payload's share of the checksum comes from the running sums, so the
  // copy above is the only pass over the frame. Block byte i sits at frame
  // position kFrameHeaderLength + i - offset.
  uint32_t sum = static_cast<uint16_t>(generator.sums[offset + payload] - generator.sums[offset]);
  const uint32_t rawWeighted =
      static_cast<uint16_t>(generator.weightedSums[offset + payload] - generator.weightedSums[offset]);
  uint32_t weighted = rawWeighted + static_cast<uint32_t>(kFrameHeaderLength + 1 - offset) * sum;
  SumBytes(out, 0, kFrameChecksumOffset, &sum, &weighted);
  StoreLittleEndian(PackChecksum(sum, weighted), 4, out + kFrameChecksumOffset);
}

uint32_t WriteGeneratedFrame(const FrameGenerator& generator, uint64_t seq, uint8_t* out) {
  const uint32_t length = GeneratedFrameLength(generator, seq);
  WriteFrame(generator, seq, GeneratedFrameMarker(generator, seq), length, out);
  return length;
}

std::vector<uint8_t> GeneratedFrame(const FrameGenerator& generator, uint64_t seq) {
  std::vector<uint8_t> frame(GeneratedFrameLength(generator, seq));
  WriteGeneratedFrame(generator, seq, frame.data());
  return frame;
}

FrameCheck CheckGeneratedFrame(const uint8_t* data, size_t size, uint64_t* seq) {
  const size_t seqBytes = size <= 1 ? 0 : (size - 1 < 8 ? size - 1 : 8);
  *seq = LoadLittleEndian(data + kFrameSeqOffset, seqBytes);
  if (size < kFrameHeaderLength) return FrameCheck::kNoChecksum;
  const uint32_t stored = static_cast<uint32_t>(LoadLittleEndian(data + kFrameChecksumOffset, 4));
  return stored == ChecksumOf(data, size) ? FrameCheck::kIntact : FrameCheck::kCorrupt;
}

bool IsGeneratedFrame(const FrameGenerator& generator, uint64_t seq, const uint8_t* data, size_t size) {
  if (size != GeneratedFrameLength(generator, seq)) return false;
  const std::vector<uint8_t> expected = GeneratedFrame(generator, seq);
  return size == 0 || std::memcmp(expected.data(), data, size) == 0;
}

bool NextExpectedFrame(ExpectedFrames* walk, std::vector<uint8_t>* frame, uint64_t* seq) {
  for (;;) {
    if (walk->limit != 0 && walk->nextSeq >= walk->limit) return false;
    const uint64_t candidate = walk->nextSeq++;
    if (walk->onlyJ && !GeneratedFrameIsJ(*walk->generator, candidate)) continue;
    frame->resize(GeneratedFrameLength(*walk->generator, candidate));
    WriteGeneratedFrame(*walk->generator, candidate, frame->data());
    *seq = candidate;
    return true;
  }
}

}  // namespace sim
