// spi-capture dump: one line per record, optionally with a full hex dump.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "byte1_filter.h"
#include "commands.h"
#include "frame_layout.h"
#include "record_walk.h"

namespace tool {

namespace {

constexpr size_t kPreviewBytes = 16;
constexpr size_t kPreviewValues = 4;  // of an array

void PrintSummary(const capture::CaptureRecordView& record, const std::vector<uint8_t>& frame) {
  std::printf("%8" PRIu64 " %12" PRIu64 " %6zu  0x%02x ", record.index, record.offset, frame.size(),
              frame[1]);
  const size_t shown = frame.size() < kPreviewBytes ? frame.size() : kPreviewBytes;
  for (size_t i = 0; i < shown; ++i) std::printf(" %02x", frame[i]);
  if (shown < frame.size()) std::printf(" ...");
  std::printf("\n");
}

// NAME=VALUE for each field; an array as [first values ... (COUNT values)].
void PrintValues(const capture::CaptureRecordView& record, const std::vector<uint8_t>& frame,
                 const FrameLayout& layout, std::string* line) {
  char head[64];
  std::snprintf(head, sizeof head, "%8" PRIu64 " %12" PRIu64 " %6zu ", record.index, record.offset,
                frame.size());
  *line = head;
  char value[kMaxValueText];
  for (const Field& field : layout.fields) {
    *line += " " + field.name + "=";
    if (field.array) *line += "[";
    const size_t shown = field.count < kPreviewValues ? field.count : kPreviewValues;
    for (size_t k = 0; k < shown; ++k) {
      if (k > 0) *line += " ";
      line->append(value, FormatFieldValue(field, frame.data(), k, value));
    }
    if (shown < field.count) *line += " ... (" + std::to_string(field.count) + " values)";
    if (field.array) *line += "]";
  }
  *line += "\n";
  std::fputs(line->c_str(), stdout);
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
  uint64_t from = 0;
  uint64_t count = std::numeric_limits<uint64_t>::max();
  if (!CountOption(args, "dump", "--from", &from) || !CountOption(args, "dump", "--count", &count)) {
    return kExitUsage;
  }
  FrameLayout layout;
  if (!LayoutOption(args, 0, &layout)) return kExitUsage;
  Byte1Filter byte1;
  if (!Byte1Option(args, "dump", &byte1)) return kExitUsage;
  const bool hex = HasOption(args, "--hex");
  // The heading once the input is open: after the first record, or at the
  // end of one that has none.
  bool headed = false;
  const auto heading = [&]() {
    if (!headed && layout.fields.empty()) {
      std::printf("%8s %12s %6s  %-5s first bytes\n", "index", "offset", "length", "byte1");
    } else if (!headed) {
      std::printf("%8s %12s %6s  fields\n", "index", "offset", "length");
    }
    headed = true;
  };
  uint64_t shown = 0;
  std::vector<uint8_t> frame;
  std::string line;
  ShortFrames shorts;
  RecordWalk walk;
  const WalkOptions options = ReadingFor("dump", true);
  const WalkEnd end = WalkRecords(
      args.positional[0], options,
      [&](RecordWalk*, const capture::CaptureRecordView& record) {
        heading();
        if (shown >= count) return RecordStep::kStop;
        if (record.index < from) return RecordStep::kNext;
        const size_t length = capture::ViewFrameLength(record);
        if (!KeepsFrame(&byte1, length, capture::ViewFrameByte(record, 1))) return RecordStep::kNext;
        if (!layout.fields.empty() && !HoldsLayout(layout, record.index, length, &shorts)) {
          return RecordStep::kNext;
        }
        frame.clear();
        capture::AppendViewFrame(record, 0, length, &frame);
        if (layout.fields.empty()) {
          PrintSummary(record, frame);
        } else {
          PrintValues(record, frame, layout, &line);
        }
        if (hex) PrintHex(frame);
        ++shown;
        return shown >= count ? RecordStep::kStop : RecordStep::kNext;
      },
      &walk);
  if (end != WalkEnd::kFailed) heading();
  if (end != WalkEnd::kFailed && byte1.active) std::printf("%s\n", LeftOutText(byte1, "record").c_str());
  if (end != WalkEnd::kFailed && shorts.count > 0) {
    std::fflush(stdout);
    ReportFileError(walk.name, ShortFramesMessage(shorts));
    return kExitFailed;
  }
  if (end == WalkEnd::kEnd && from > 0 && walk.records <= from) {
    std::fflush(stdout);
    ReportFileError(walk.name, "has only " + Counted(walk.records, "record") + "; --from " +
                                   std::to_string(from) + " is past the end");
    return kExitFailed;
  }
  return end == WalkEnd::kEnd || end == WalkEnd::kStopped ? kExitOk : kExitFailed;
}

}  // namespace tool
