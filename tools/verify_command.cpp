// spi-capture verify: walks each file and says whether it is whole.
#include <cinttypes>
#include <cstdio>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "progress.h"

namespace tool {

namespace {

bool VerifyOne(const std::string& path) {
  capture::CaptureReader reader;
  std::string error;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return false;
  }
  Progress progress;
  StartProgress(&progress, "verify " + InputName(path), KnownInputSize(reader.file), false);
  capture::CaptureRecordView record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecordView(&reader, &record)) == capture::ReadOutcome::kRecord) {
    UpdateProgress(&progress, reader.offset);
  }
  EndProgress(&progress);
  const bool whole = outcome == capture::ReadOutcome::kEnd;
  if (whole) {
    std::printf("%s: OK (%s, %s)\n", InputName(path).c_str(), Counted(reader.index, "record").c_str(),
                Counted(reader.offset, "byte").c_str());
  } else {
    std::fflush(stdout);
    ReportFileError(InputName(path), capture::FormatDamage(reader.damage));
  }
  capture::CloseCaptureReader(&reader);
  return whole;
}

}  // namespace

int RunVerify(const ParsedArgs& args) {
  bool allWhole = true;
  for (const std::string& path : args.positional) {
    if (!VerifyOne(path)) allWhole = false;
  }
  return allWhole ? kExitOk : kExitFailed;
}

}  // namespace tool
