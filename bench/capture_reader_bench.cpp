// Measures how fast the capture reader walks a file that is in the page
// cache. Writes a capture of 4 KiB frames and one of 64-byte frames, reads
// each once to warm the cache, then times a full walk.
//   capture_reader_bench [--dir DIR] [--mib N]   (default: temp dir, 512)
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_encoder.h"
#include "capture_reader.h"
#include "decimal_number.h"

namespace {

bool WriteCapture(const std::string& path, size_t frameLength, uint64_t totalBytes, uint64_t* records) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  // Build a 1 MiB block of records once and write it repeatedly.
  std::vector<uint8_t> frame(frameLength);
  frame[0] = 'J';
  for (size_t i = 1; i < frameLength; ++i) frame[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> block;
  std::string error;
  uint64_t perBlock = 0;
  while (block.size() + capture::RecordSize(frameLength) <= (1u << 20)) {
    if (!capture::EncodeCaptureRecord(frame.data(), frame.size(), &block, &error)) return false;
    ++perBlock;
  }
  *records = 0;
  bool ok = true;
  for (uint64_t written = 0; ok && written < totalBytes; written += block.size()) {
    ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
    *records += perBlock;
  }
  return std::fclose(file) == 0 && ok;
}

struct WalkResult {
  bool whole = false;
  uint64_t records = 0;
  uint64_t bytes = 0;
  uint64_t checksum = 0;  // keeps the walk from being optimised away
  double seconds = 0;
};

WalkResult Walk(const std::string& path) {
  WalkResult result;
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    result.checksum += record.frame.back();
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.whole = outcome == capture::ReadOutcome::kEnd;
  result.records = reader.index;
  result.bytes = reader.offset;
  capture::CloseCaptureReader(&reader);
  return result;
}

bool Measure(const std::string& dir, size_t frameLength, uint64_t totalBytes) {
  const std::string path =
      (std::filesystem::path(dir) / ("bench_" + std::to_string(frameLength) + ".cap")).string();
  uint64_t records = 0;
  if (!WriteCapture(path, frameLength, totalBytes, &records)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  Walk(path);  // warms the page cache
  const WalkResult result = Walk(path);
  std::remove(path.c_str());
  if (!result.whole || result.records != records) {
    std::fprintf(stderr, "walk of %s went wrong\n", path.c_str());
    return false;
  }
  std::printf("%zu-byte frames: %.0f MiB, %" PRIu64 " records (checksum %" PRIu64 ")\n", frameLength,
              static_cast<double>(result.bytes) / (1 << 20), result.records, result.checksum);
  std::printf("reader %.0f MB/s, %.2f M records/s\n",
              static_cast<double>(result.bytes) / result.seconds / 1e6,
              static_cast<double>(result.records) / result.seconds / 1e6);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = std::filesystem::temp_directory_path().string();
  uint64_t mib = 512;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = true;
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--mib" && i + 1 < argc) {
      // In bytes it must still fit 64 bits.
      ok = common::ParseDecimal(argv[++i], UINT64_MAX >> 20, &mib);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "usage: capture_reader_bench [--dir DIR] [--mib N]\n");
      return 2;
    }
  }
  if (mib == 0) mib = 1;
  const bool ok = Measure(dir, 4096, mib << 20) && Measure(dir, 64, (mib / 4 + 1) << 20);
  return ok ? 0 : 1;
}
