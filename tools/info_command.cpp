// spi-capture info: what a capture holds, and whether it is whole.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_reader.h"
#include "commands.h"

namespace tool {

namespace {

// Bucket b holds lengths 2^(b+1) .. 2^(b+2)-1, so 2..3 up to 32768..65535.
constexpr int kBuckets = 15;

int BucketOf(size_t length) {
  int bucket = 0;
  while (bucket + 1 < kBuckets && length >= (size_t{4} << bucket)) ++bucket;
  return bucket;
}

}  // namespace

int RunInfo(const ParsedArgs& args) {
  const std::string& path = args.positional[0];
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  uint64_t records = 0;
  uint64_t frameBytes = 0;
  size_t smallest = 0;
  size_t largest = 0;
  uint64_t histogram[kBuckets] = {};
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    const size_t length = record.frame.size();
    if (records == 0 || length < smallest) smallest = length;
    if (length > largest) largest = length;
    ++records;
    frameBytes += length;
    ++histogram[BucketOf(length)];
  }
  const capture::Damage damage = reader.damage;
  const uint64_t validBytes = reader.offset;
  capture::CloseCaptureReader(&reader);

  std::error_code code;
  const uintmax_t fileSize = std::filesystem::file_size(path, code);
  std::printf("file           %s\n", path.c_str());
  if (code) {
    std::printf("file size      unknown (%s)\n", code.message().c_str());
  } else {
    std::printf("file size      %ju bytes\n", fileSize);
  }
  std::printf("records        %" PRIu64 "\n", records);
  std::printf("frame bytes    %" PRIu64 "\n", frameBytes);
  if (records > 0) {
    std::printf("frame length   min %zu, max %zu, mean %.1f\n", smallest, largest,
                static_cast<double>(frameBytes) / static_cast<double>(records));
  } else {
    std::printf("frame length   -\n");
  }
  if (outcome == capture::ReadOutcome::kEnd) {
    std::printf("ends cleanly   yes\n");
  } else {
    std::printf("ends cleanly   no: %s\n", capture::FormatDamage(damage).c_str());
    if (!code)
      std::printf("unreadable     %ju bytes from offset %" PRIu64 "\n", fileSize - validBytes, validBytes);
  }
  if (records > 0) {
    std::printf("lengths\n");
    for (int b = 0; b < kBuckets; ++b) {
      if (histogram[b] == 0) continue;
      const size_t low = size_t{2} << b;
      const size_t high = (size_t{4} << b) - 1;
      std::printf("  %5zu..%-5zu %10" PRIu64 " %6.1f%%\n", low, high, histogram[b],
                  100.0 * static_cast<double>(histogram[b]) / static_cast<double>(records));
    }
  }
  if (outcome != capture::ReadOutcome::kEnd) {
    std::fflush(stdout);
    ReportFileError(path, capture::FormatDamage(damage));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tool
