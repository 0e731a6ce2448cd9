// spi-capture cat: joins captures into one. Records carry no position, so
// the join of whole captures is itself a whole capture.
#include <cinttypes>
#include <cstdio>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "progress.h"

namespace tool {

namespace {

enum class AppendResult { kWhole, kDamaged, kFailed };

// Appends the valid records of path to out; reports damage and failures.
AppendResult AppendCapture(const std::string& path, bool skipDamaged, OutputFile* out, uint64_t* records) {
  capture::CaptureReader reader;
  std::string error;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return AppendResult::kFailed;
  }
  Progress progress;
  StartProgress(&progress, "cat " + InputName(path), KnownInputSize(reader.file), out->toStdout);
  capture::CaptureRecordView record;
  AppendResult result = AppendResult::kWhole;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecordView(&reader, &record)) == capture::ReadOutcome::kRecord) {
    if (!WriteOutput(out, record.bytes, record.size, &error)) {
      ReportFileError(OutputName(*out), error);
      result = AppendResult::kFailed;
      break;
    }
    UpdateProgress(&progress, reader.offset);
  }
  EndProgress(&progress);
  if (result == AppendResult::kWhole && outcome == capture::ReadOutcome::kDamage) {
    ReportFileError(InputName(path), capture::FormatDamage(reader.damage));
    if (reader.damage.kind == capture::DamageKind::kReadError) {
      result = AppendResult::kFailed;
    } else if (!skipDamaged) {
      ReportError("cat: --skip-damaged keeps the valid part of a damaged input");
      result = AppendResult::kFailed;
    } else {
      ReportFileError(InputName(path), "kept its first " + Counted(reader.index, "record"));
      result = AppendResult::kDamaged;
    }
  }
  *records += reader.index;
  capture::CloseCaptureReader(&reader);
  return result;
}

}  // namespace

int RunCat(const ParsedArgs& args) {
  if (!HasOption(args, "-o")) {
    ReportError("cat: needs -o OUT");
    return kExitUsage;
  }
  const std::string& outPath = args.values.at("-o");
  if (OutputIsInput(outPath, args.positional)) return RefuseOutputIsInput(outPath);
  const bool skipDamaged = HasOption(args, "--skip-damaged");
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  uint64_t records = 0;
  for (const std::string& path : args.positional) {
    if (AppendCapture(path, skipDamaged, &out, &records) == AppendResult::kFailed) {
      AbandonOutputFile(&out);
      ReportFileError(OutputName(out), out.toStdout ? "incomplete" : "nothing written");
      return kExitFailed;
    }
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::fprintf(MessageStream(out), "%s: %s from %s\n", OutputName(out).c_str(),
               Counted(records, "record").c_str(), Counted(args.positional.size(), "file").c_str());
  return kExitOk;
}

}  // namespace tool
