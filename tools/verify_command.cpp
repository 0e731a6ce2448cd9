// spi-capture verify: walks each file and says whether it is whole.
#include <cinttypes>
#include <cstdio>

#include "capture_reader.h"
#include "commands.h"

namespace tool {

namespace {

bool VerifyOne(const std::string& path) {
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return false;
  }
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
  }
  const bool whole = outcome == capture::ReadOutcome::kEnd;
  if (whole) {
    std::printf("%s: OK (%" PRIu64 " records, %" PRIu64 " bytes)\n", path.c_str(), reader.index,
                reader.offset);
  } else {
    std::fflush(stdout);
    ReportFileError(path, capture::FormatDamage(reader.damage));
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
