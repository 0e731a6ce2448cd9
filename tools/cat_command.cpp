// spi-capture cat: joins captures into one. Records carry no position, so
// the join of whole captures is itself a whole capture.
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "record_walk.h"

namespace tool {

namespace {

// Appends the valid records of path to out; false when the join must stop.
bool AppendCapture(const std::string& path, bool skipDamaged, OutputFile* out, uint64_t* records) {
  std::string error;
  const WalkOptions options = ReadingFor("cat", out->toStdout);
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, options,
      [&](RecordWalk*, const capture::CaptureRecordView& record) {
        if (WriteOutput(out, record.bytes, record.size, &error)) return RecordStep::kNext;
        ReportFileError(OutputName(*out), error);
        return RecordStep::kFail;
      },
      &walk);
  *records += walk.records;
  if (end != WalkEnd::kDamage) return end == WalkEnd::kEnd;
  if (!skipDamaged) {
    ReportError("cat: --skip-damaged keeps the valid part of a damaged input");
    return false;
  }
  ReportFileError(walk.name, "kept its first " + Counted(walk.records, "record"));
  return true;
}

}  // namespace

int RunCat(const ParsedArgs& args) {
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
    if (!AppendCapture(path, skipDamaged, &out, &records)) {
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
