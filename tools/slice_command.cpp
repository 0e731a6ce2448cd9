// spi-capture slice: a range of records as a capture of its own.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "byte1_filter.h"
#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "record_walk.h"

namespace tool {

int RunSlice(const ParsedArgs& args) {
  uint64_t from = 0;
  uint64_t count = std::numeric_limits<uint64_t>::max();
  if (!CountOption(args, "slice", "--from", &from) || !CountOption(args, "slice", "--count", &count)) {
    return kExitUsage;
  }
  if (count == 0) {
    ReportError("slice: --count must be at least 1");
    return kExitUsage;
  }
  Byte1Filter byte1;
  if (!Byte1Option(args, "slice", &byte1)) return kExitUsage;
  const std::string& path = args.positional[0];
  const std::string& outPath = args.values.at("-o");
  if (OutputIsInput(outPath, {path})) return RefuseOutputIsInput(outPath);

  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  uint64_t written = 0;
  const WalkOptions options = ReadingFor("slice", out.toStdout);
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, options,
      [&](RecordWalk*, const capture::CaptureRecordView& record) {
        if (record.index < from) return RecordStep::kNext;
        if (!KeepsFrame(&byte1, capture::ViewFrameLength(record), capture::ViewFrameByte(record, 1))) {
          return RecordStep::kNext;
        }
        if (!WriteOutput(&out, record.bytes, record.size, &error)) {
          ReportFileError(OutputName(out), error);
          return RecordStep::kFail;
        }
        ++written;
        return written >= count ? RecordStep::kStop : RecordStep::kNext;
      },
      &walk);
  // One rule: --from names a record of the input, so a slice is never
  // empty; an empty one is an error and leaves no file.
  if (end != WalkEnd::kFailed && written == 0 && walk.records > from) {
    ReportFileError(walk.name, "no record from --from " + std::to_string(from) + " on is kept by --byte1");
  } else if (end != WalkEnd::kFailed && written == 0) {
    const std::string held = end == WalkEnd::kDamage
                                 ? "has " + Counted(walk.records, "record") + " before the damage; --from "
                                 : "has only " + Counted(walk.records, "record") + "; --from ";
    ReportFileError(walk.name, held + std::to_string(from) + " is past the end");
  }
  if (end == WalkEnd::kFailed || written == 0) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  // A slice cut short by damage still holds the valid records asked for.
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  const std::string leftOut = byte1.active ? "; " + LeftOutText(byte1, "record") : "";
  std::fprintf(MessageStream(out), "%s: %s from record %" PRIu64 "%s\n", OutputName(out).c_str(),
               Counted(written, "record").c_str(), from, leftOut.c_str());
  return end == WalkEnd::kDamage ? kExitFailed : kExitOk;
}

}  // namespace tool
