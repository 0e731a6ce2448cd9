// libFuzzer target: walks arbitrary bytes as a capture, once in memory with
// ParseCaptureRecord and once through the file reader, and checks that both
// agree and never claim more than the input holds. Build with -DSPI_FUZZ=ON
// (clang only); run with capture/run_fuzz.sh.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture_reader.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The in-memory walk, over an exactly sized copy so AddressSanitizer sees
  // any read past the end.
  std::vector<uint8_t> copy(data, data + size);
  const uint8_t* base = copy.data();
  std::vector<size_t> recordSizes;
  size_t offset = 0;
  capture::Damage parsedDamage;
  capture::ReadOutcome parsed;
  for (;;) {
    size_t recordSize = 0;
    parsed = capture::ParseCaptureRecord(base + offset, size - offset, &recordSize, &parsedDamage);
    if (parsed != capture::ReadOutcome::kRecord) break;
    Check(recordSize >= capture::kMinFrameLength + 2 && recordSize <= size - offset, "record size in bounds");
    Check(base[offset] == 'J', "record starts with J");
    Check(recordSize == (base[offset + 2] | (size_t{base[offset + 3]} << 8)) + 2u,
          "size matches length field");
    recordSizes.push_back(recordSize);
    offset += recordSize;
  }
  if (parsed == capture::ReadOutcome::kEnd) {
    Check(offset == size, "clean end only at the end");
    Check(parsedDamage.kind == capture::DamageKind::kNone, "no damage at a clean end");
  } else {
    Check(offset < size, "damage lies within the input");
    Check(parsedDamage.kind != capture::DamageKind::kNone &&
              parsedDamage.kind != capture::DamageKind::kReadError,
          "damage has a kind");
    Check(!parsedDamage.message.empty(), "damage has a message");
  }

  // The file walk must find the same records and stop at the same place.
  std::FILE* file = size == 0 ? std::tmpfile() : fmemopen(copy.data(), size, "rb");
  Check(file != nullptr, "open input");
  capture::CaptureReader reader;
  capture::AttachCaptureReader(file, &reader);
  capture::CaptureRecord record;
  uint64_t fileOffset = 0;
  size_t index = 0;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    Check(index < recordSizes.size(), "reader finds no extra record");
    Check(record.index == index && record.offset == fileOffset, "record position");
    Check(record.frame.size() + 2 == recordSizes[index], "frame length");
    Check(record.frame[0] == base[fileOffset] && record.frame[1] == base[fileOffset + 1], "frame head");
    Check(std::memcmp(record.frame.data() + 2, base + fileOffset + 4, record.frame.size() - 2) == 0,
          "frame payload");
    fileOffset += recordSizes[index];
    ++index;
  }
  Check(index == recordSizes.size(), "reader finds every record");
  Check(outcome == parsed, "same outcome");
  Check(reader.offset == offset, "reader stops where the walk stops");
  if (outcome == capture::ReadOutcome::kDamage) {
    Check(reader.damage.kind == parsedDamage.kind, "same damage kind");
    Check(reader.damage.offset == offset && reader.damage.index == index, "damage position");
    Check(capture::ReadCaptureRecord(&reader, &record) == capture::ReadOutcome::kDamage, "damage is sticky");
  }
  capture::CloseCaptureReader(&reader);
  return 0;
}
