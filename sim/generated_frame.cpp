#include "generated_frame.h"

#include <algorithm>
#include <cmath>
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

void FillSums(SummedBytes* table) {
  const size_t size = table->bytes.size();
  table->sums.assign(size + 1, 0);
  table->weightedSums.assign(size + 1, 0);
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = table->bytes[i];
    table->sums[i + 1] = static_cast<uint16_t>(table->sums[i] + b);
    table->weightedSums[i + 1] = static_cast<uint16_t>(table->weightedSums[i] + static_cast<uint32_t>(i) * b);
  }
}

// Copies table bytes [from, from + count) to frame position at and adds them
// to the checksum halves from the running sums, without a pass over them.
// Table byte i lands at frame position at + i - from.
void CopySlice(const SummedBytes& table, size_t from, size_t count, size_t at, uint8_t* frame, uint32_t* sum,
               uint32_t* weighted) {
  std::memcpy(frame + at, table.bytes.data() + from, count);
  const uint32_t sliceSum = static_cast<uint16_t>(table.sums[from + count] - table.sums[from]);
  const uint32_t rawWeighted =
      static_cast<uint16_t>(table.weightedSums[from + count] - table.weightedSums[from]);
  *sum += sliceSum;
  *weighted += rawWeighted + static_cast<uint32_t>(at + 1 - from) * sliceSum;
}

int16_t SineSample(size_t p) {
  const double kPi = 3.14159265358979323846;
  return static_cast<int16_t>(
      std::lround(kChannelAmplitude * std::sin(2 * kPi * static_cast<double>(p) / kChannelPeriod)));
}

int16_t TriangleSample(size_t p) {
  const int phase = static_cast<int>(p);
  const int half = static_cast<int>(kChannelPeriod / 2);
  const int step = 2 * kChannelAmplitude / half;
  return static_cast<int16_t>(phase < half ? -kChannelAmplitude + step * phase
                                           : kChannelAmplitude - step * (phase - half));
}

// Period + 256 samples, so every frame's samples are one slice.
void FillChannel(int16_t (*sample)(size_t), SummedBytes* table) {
  const size_t samples = kChannelPeriod + kChannelSamples;
  table->bytes.resize(2 * samples);
  for (size_t i = 0; i < samples; ++i)
    StoreLittleEndian(static_cast<uint16_t>(sample(i % kChannelPeriod)), 2, &table->bytes[2 * i]);
  FillSums(table);
}

}  // namespace

void InitFrameGenerator(const FrameShape& shape, FrameGenerator* generator) {
  generator->shape = shape;
  generator->lengthKey = KeyFor(shape, kLengthSalt);
  generator->markerKey = KeyFor(shape, kMarkerSalt);
  generator->offsetKey = KeyFor(shape, kOffsetSalt);
  std::vector<uint8_t>& block = generator->block.bytes;
  block.resize(kBlockSize);
  Prng prng{shape.seed};
  for (size_t i = 0; i < kBlockSize; i += 8) {
    const uint64_t bits = NextRandom(&prng);
    for (size_t k = 0; k < 8 && i + k < kBlockSize; ++k) block[i + k] = static_cast<uint8_t>(bits >> (8 * k));
  }
  FillSums(&generator->block);
  FillChannel(SineSample, &generator->channelA);
  FillChannel(TriangleSample, &generator->channelB);
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
    for (size_t i = 1 + seqBytes; i < length; ++i) out[i] = generator.block.bytes[i];
    return;
  }
  // The fields before the channels, built whole (in head when the frame
  // cuts them) and summed where they are.
  uint8_t head[kFrameChannelAOffset] = {};
  const size_t headBytes = std::min<size_t>(length, kFrameChannelAOffset);
  uint8_t* fields = headBytes == kFrameChannelAOffset ? out : head;
  fields[0] = marker;
  StoreLittleEndian(seq, 8, fields + kFrameSeqOffset);
  StoreLittleEndian(seq * kFrameMicroseconds, 4, fields + kFrameTimeOffset);  // wraps at 2^32 by itself
  fields[kFrameLengthOffset] = static_cast<uint8_t>(length >> 8);
  fields[kFrameLengthOffset + 1] = static_cast<uint8_t>(length);
  uint32_t sum = 0;
  uint32_t weighted = 0;
  SumBytes(fields, 0, kFrameChecksumOffset, &sum, &weighted);
  SumBytes(fields, kFrameHeaderLength, headBytes, &sum, &weighted);
  if (fields == head) std::memcpy(out, head, headBytes);

  // Sample n = seq * 256 + k has phase n mod 200; seq is reduced first so no
  // seq overflows.
  const size_t phase = static_cast<size_t>(seq % kChannelPeriod) * kChannelSamples % kChannelPeriod;
  const size_t channelBytes = 2 * kChannelSamples;
  if (length > kFrameChannelAOffset) {
    const size_t count = std::min<size_t>(length - kFrameChannelAOffset, channelBytes);
    CopySlice(generator.channelA, 2 * phase, count, kFrameChannelAOffset, out, &sum, &weighted);
  }
  if (length > kFrameChannelBOffset) {
    const size_t count = std::min<size_t>(length - kFrameChannelBOffset, channelBytes);
    CopySlice(generator.channelB, 2 * phase, count, kFrameChannelBOffset, out, &sum, &weighted);
  }
  // The filler is what the same place held before the fields came: block
  // byte offset + i - 13 at position i.
  if (length > kFrameFillerOffset) {
    const size_t offset = FrameHash(generator.offsetKey, seq) % kBlockSpan;
    CopySlice(generator.block, offset + (kFrameFillerOffset - kFrameHeaderLength),
              length - kFrameFillerOffset, kFrameFillerOffset, out, &sum, &weighted);
  }
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
