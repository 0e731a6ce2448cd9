// spi-capture slice: a range of records as a capture of its own.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "progress.h"

namespace tool {

int RunSlice(const ParsedArgs& args) {
  if (!HasOption(args, "--from") || !HasOption(args, "-o")) {
    ReportError("slice: needs --from N and -o OUT");
    return kExitUsage;
  }
  uint64_t from = 0;
  uint64_t count = std::numeric_limits<uint64_t>::max();
  if (!CountOption(args, "slice", "--from", &from) || !CountOption(args, "slice", "--count", &count)) {
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  const std::string& outPath = args.values.at("-o");
  if (OutputIsInput(outPath, {path})) return RefuseOutputIsInput(outPath);

  capture::CaptureReader reader;
  OutputFile out;
  if (!OpenCaptureCopy(path, outPath, &reader, &out)) return kExitFailed;
  std::string error;
  Progress progress;
  StartProgress(&progress, "slice " + InputName(path), KnownInputSize(reader.file), out.toStdout);
  capture::CaptureRecordView record;
  uint64_t written = 0;
  capture::ReadOutcome outcome = capture::ReadOutcome::kRecord;
  bool failed = false;
  while (written < count &&
         (outcome = capture::ReadCaptureRecordView(&reader, &record)) == capture::ReadOutcome::kRecord) {
    UpdateProgress(&progress, reader.offset);
    if (record.index < from) continue;
    if (!WriteOutput(&out, record.bytes, record.size, &error)) {
      ReportFileError(OutputName(out), error);
      failed = true;
      break;
    }
    ++written;
  }
  EndProgress(&progress);
  const capture::Damage damage = reader.damage;
  const uint64_t records = reader.index;
  capture::CloseCaptureReader(&reader);
  if (!failed && outcome == capture::ReadOutcome::kEnd && from > 0 && records <= from) {
    ReportFileError(InputName(path), "has only " + Counted(records, "record") + "; --from " +
                                         std::to_string(from) + " is past the end");
    failed = true;
  }
  if (!failed && outcome == capture::ReadOutcome::kDamage) {
    ReportFileError(InputName(path), capture::FormatDamage(damage));
    failed = damage.kind == capture::DamageKind::kReadError;
  }
  if (failed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  // A slice cut short by damage still holds the valid records asked for.
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::fprintf(MessageStream(out), "%s: %s from record %" PRIu64 "\n", OutputName(out).c_str(),
               Counted(written, "record").c_str(), from);
  return outcome == capture::ReadOutcome::kDamage ? kExitFailed : kExitOk;
}

}  // namespace tool
