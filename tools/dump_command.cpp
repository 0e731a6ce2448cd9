// spi-capture dump: one line per record, optionally with a full hex dump.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "progress.h"

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
  if (!CountOption(args, "dump", "--from", &from) || !CountOption(args, "dump", "--count", &count)) {
    return kExitUsage;
  }
  const bool hex = HasOption(args, "--hex");

  capture::CaptureReader reader;
  std::string error;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  Progress progress;
  StartProgress(&progress, "dump " + InputName(path), KnownInputSize(reader.file), true);
  std::printf("%8s %12s %6s  %-5s first bytes\n", "index", "offset", "length", "byte1");
  capture::CaptureRecord record;
  uint64_t shown = 0;
  int status = kExitOk;
  while (shown < count) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecord(&reader, &record);
    if (outcome == capture::ReadOutcome::kEnd) {
      if (from > 0 && reader.index <= from) {
        std::fflush(stdout);
        ReportFileError(InputName(path), "has only " + Counted(reader.index, "record") + "; --from " +
                                             std::to_string(from) + " is past the end");
        status = kExitFailed;
      }
      break;
    }
    if (outcome == capture::ReadOutcome::kDamage) {
      std::fflush(stdout);
      ReportFileError(InputName(path), capture::FormatDamage(reader.damage));
      status = kExitFailed;
      break;
    }
    if (record.index < from) {
      UpdateProgress(&progress, reader.offset);
      continue;
    }
    PrintSummary(record);
    if (hex) PrintHex(record.frame);
    ++shown;
  }
  EndProgress(&progress);
  capture::CloseCaptureReader(&reader);
  return status;
}

}  // namespace tool
