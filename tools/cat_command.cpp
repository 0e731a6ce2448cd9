// spi-capture cat: joins captures into one. Records carry no position, so
// the join of whole captures is itself a whole capture.
#include <cinttypes>
#include <cstdio>

#include "capture_encoder.h"
#include "capture_reader.h"
#include "commands.h"
#include "output_file.h"

namespace tool {

namespace {

enum class AppendResult { kWhole, kDamaged, kFailed };

// Appends the valid records of path to out; reports damage and failures.
AppendResult AppendCapture(const std::string& path, bool skipDamaged, OutputFile* out, uint64_t* records) {
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return AppendResult::kFailed;
  }
  capture::CaptureRecord record;
  std::vector<uint8_t> encoded;
  AppendResult result = AppendResult::kWhole;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    encoded.clear();
    if (!capture::EncodeCaptureRecord(record.frame.data(), record.frame.size(), &encoded, &error) ||
        !WriteOutput(out, encoded.data(), encoded.size(), &error)) {
      ReportFileError(out->path, error);
      result = AppendResult::kFailed;
      break;
    }
  }
  if (result == AppendResult::kWhole && outcome == capture::ReadOutcome::kDamage) {
    ReportFileError(path, capture::FormatDamage(reader.damage));
    if (reader.damage.kind == capture::DamageKind::kReadError) {
      result = AppendResult::kFailed;
    } else if (!skipDamaged) {
      ReportError("cat: --skip-damaged keeps the valid part of a damaged input");
      result = AppendResult::kFailed;
    } else {
      ReportFileError(path, "kept its first " + std::to_string(reader.index) + " records");
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
  for (const std::string& path : args.positional) {
    if (path == outPath || SameFile(path, outPath)) {
      ReportFileError(outPath, "is also an input; choose another output");
      return kExitFailed;
    }
  }
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
      ReportFileError(outPath, "nothing written");
      return kExitFailed;
    }
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  std::printf("%s: %" PRIu64 " records from %zu files\n", outPath.c_str(), records, args.positional.size());
  return kExitOk;
}

}  // namespace tool
