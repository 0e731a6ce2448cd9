#include "record_walk.h"

#include <cstdio>

#include "input_file.h"
#include "tool_args.h"

namespace tool {

namespace {

// Reports what ended the walk at damage and leaves the reader's details in
// walk; the input is still open.
WalkEnd EndAtDamage(const WalkOptions& options, RecordWalk* walk) {
  walk->damage = walk->reader.damage;
  const bool readError = walk->damage.kind == capture::DamageKind::kReadError;
  if (readError || !options.quietDamage) {
    BeforeMessage(walk);
    ReportFileError(walk->name, capture::FormatDamage(walk->damage));
  }
  if (readError) {
    walk->failure = capture::FormatDamage(walk->damage);
    return WalkEnd::kFailed;
  }
  walk->size = walk->reader.offset + BytesLeft(walk->reader);
  return WalkEnd::kDamage;
}

WalkEnd Walk(const WalkOptions& options, const RecordHandler& onRecord, RecordWalk* walk) {
  capture::CaptureRecordView record;
  for (;;) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecordView(&walk->reader, &record);
    if (outcome == capture::ReadOutcome::kRecord) {
      const RecordStep step = onRecord ? onRecord(walk, record) : RecordStep::kNext;
      if (step == RecordStep::kStop) return WalkEnd::kStopped;
      if (step == RecordStep::kFail) return WalkEnd::kFailed;
      UpdateProgress(&walk->progress, walk->reader.offset);
      continue;
    }
    const bool tornTail =
        outcome == capture::ReadOutcome::kDamage && capture::IsTornTail(walk->reader.damage.kind);
    if (!options.caughtUp || (outcome == capture::ReadOutcome::kDamage && !tornTail)) {
      if (outcome == capture::ReadOutcome::kDamage) return EndAtDamage(options, walk);
      walk->size = walk->reader.offset;
      return WalkEnd::kEnd;
    }
    // A torn last record of a live input is the one being written: wait for
    // its rest.
    if (tornTail) capture::ResumeCaptureReader(&walk->reader);
    const RecordStep step = options.caughtUp(walk);
    if (step == RecordStep::kStop) return WalkEnd::kStopped;
    if (step == RecordStep::kFail) return WalkEnd::kFailed;
  }
}

}  // namespace

WalkEnd WalkRecords(const std::string& path, const WalkOptions& options, const RecordHandler& onRecord,
                    RecordWalk* walk) {
  walk->name = InputName(path);
  std::string error;
  if (!OpenCaptureInput(path, &walk->reader, &error)) {
    ReportError(error);
    const std::string prefix = path + ": ";
    walk->failure = error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error;
    walk->end = WalkEnd::kFailed;
    return walk->end;
  }
  walk->size = KnownInputSize(walk->reader.file);
  // A live input has no end to measure progress against.
  StartProgress(&walk->progress, std::string(options.command) + " " + walk->name,
                options.caughtUp ? 0 : walk->size, options.dataOnStdout);
  walk->end = Walk(options, onRecord, walk);
  EndProgress(&walk->progress);
  walk->records = walk->reader.index;
  walk->validBytes = walk->reader.offset;
  capture::CloseCaptureReader(&walk->reader);
  return walk->end;
}

WalkOptions ReadingFor(const char* command, bool dataOnStdout) {
  WalkOptions options;
  options.command = command;
  options.dataOnStdout = dataOnStdout;
  return options;
}

void BeforeMessage(RecordWalk* walk) {
  ClearProgress(&walk->progress);
  std::fflush(stdout);
}

}  // namespace tool
