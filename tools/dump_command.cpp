// spi-capture dump: one line per record, optionally with a full hex dump.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "capture_reader.h"
#include "commands.h"

namespace tool {

namespace {

constexpr size_t kPreviewBytes = 16;

void PrintSummary(const capture::CaptureRecord& record) {
  std::printf("%8" PRIu64 " %12" PRIu64 " %6zu  0x%02x ", record.index, record.offset, record.frame.size(),
              record.frame[1]);
  const size_t shown = record.frame.size() < kPreviewBytes ? record.frame.size() : kPreviewBytes;
  for (size_t i = 0; i < shown; ++i) std::printf(" %02x", record.frame[i]);
  if (shown < record.frame.size()) std::printf(" ...");
  std::printf("\n");
}

// Offset within the frame, 16 bytes in hex, then the same bytes as ASCII.
void PrintHex(const std::vector<uint8_t>& frame) {
  for (size_t line = 0; line < frame.size(); line += 16) {
    char ascii[17] = {};
    std::printf("    %04zx ", line);
    for (size_t i = 0; i < 16; ++i) {
      if (i == 8) std::printf(" ");
      if (line + i < frame.size()) {
        const uint8_t byte = frame[line + i];
        std::printf(" %02x", byte);
        ascii[i] = (byte >= 0x20 && byte < 0x7f) ? static_cast<char>(byte) : '.';
      } else {
        std::printf("   ");
      }
    }
    std::printf("  |%s|\n", ascii);
  }
}

}  // namespace

int RunDump(const ParsedArgs& args) {
  const std::string& path = args.positional[0];
  uint64_t from = 0;
  uint64_t count = std::numeric_limits<uint64_t>::max();
  if (HasOption(args, "--from") && !ParseCount(args.values.at("--from"), &from)) {
    ReportError("dump: bad number for --from: '" + args.values.at("--from") + "'");
    return kExitUsage;
  }
  if (HasOption(args, "--count") && !ParseCount(args.values.at("--count"), &count)) {
    ReportError("dump: bad number for --count: '" + args.values.at("--count") + "'");
    return kExitUsage;
  }
  const bool hex = HasOption(args, "--hex");

  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%8s %12s %6s  %-5s first bytes\n", "index", "offset", "length", "byte1");
  capture::CaptureRecord record;
  uint64_t shown = 0;
  int status = kExitOk;
  while (shown < count) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecord(&reader, &record);
    if (outcome == capture::ReadOutcome::kEnd) break;
    if (outcome == capture::ReadOutcome::kDamage) {
      std::fflush(stdout);
      ReportFileError(path, capture::FormatDamage(reader.damage));
      status = kExitFailed;
      break;
    }
    if (record.index < from) continue;
    PrintSummary(record);
    if (hex) PrintHex(record.frame);
    ++shown;
  }
  capture::CloseCaptureReader(&reader);
  return status;
}

}  // namespace tool
