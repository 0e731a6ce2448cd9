// spi-capture check: follows the master's frame counter through a capture
// and reports every gap, i.e. every frame lost on the way.
#include <cinttypes>
#include <cstdio>

#include "capture_reader.h"
#include "commands.h"
#include "frame_counter.h"
#include "frame_split.h"
#include "input_file.h"
#include "progress.h"

namespace tool {

namespace {

std::string Where(const capture::CaptureRecordView& record, size_t frame, bool split) {
  std::string where = "record " + std::to_string(record.index);
  if (split) where += " frame " + std::to_string(frame);
  return where;
}

struct CheckCount {
  uint64_t tooShort = 0;
  uint64_t keptWhole = 0;
};

// Checks the counter of one frame: bytes [begin, begin + length) of the
// record's frame.
void CheckFrame(const capture::CaptureRecordView& record, size_t frame, size_t begin, size_t length,
                const CounterField& field, bool split, CounterTrack* track, CheckCount* count,
                Progress* progress) {
  if (length < field.offset + field.width) {
    SkipCounter(track, field);
    ++count->tooShort;
    ClearProgress(progress);
    std::printf("%s: frame of %s is too short for a counter at bytes %zu..%zu\n",
                Where(record, frame, split).c_str(), Counted(length, "byte").c_str(), field.offset,
                field.offset + field.width - 1);
    return;
  }
  uint8_t bytes[8];
  for (size_t i = 0; i < field.width; ++i)
    bytes[i] = capture::ViewFrameByte(record, begin + field.offset + i);
  const CounterStep step = TrackCounter(track, field, DecodeCounter(field, bytes));
  if (step.jump == CounterJump::kNone) return;
  ClearProgress(progress);
  std::printf("%s: expected %" PRIu64 ", found %" PRIu64 ": %s\n", Where(record, frame, split).c_str(),
              step.expected, step.found,
              step.jump == CounterJump::kMissing ? (Counted(step.missing, "frame") + " missing").c_str()
                                                 : "the counter went back or off its step");
}

}  // namespace

int RunCheck(const ParsedArgs& args) {
  if (!HasOption(args, "--counter")) {
    ReportError("check: needs --counter OFFSET:WIDTH[:le|be]");
    return kExitUsage;
  }
  CounterField field;
  std::string error;
  if (!ParseCounterField(args.values.at("--counter"), &field, &error)) {
    ReportError("check: " + error);
    return kExitUsage;
  }
  if (!CountOption(args, "check", "--step", &field.step)) return kExitUsage;
  if (field.step == 0 || field.step > CounterMask(field)) {
    ReportError("check: --step must be within 1.." + std::to_string(CounterMask(field)));
    return kExitUsage;
  }
  size_t frameSize = 0;
  if (!FrameSizeOption(args, "check", &frameSize)) return kExitUsage;
  const std::string& path = args.positional[0];

  capture::CaptureReader reader;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  Progress progress;
  StartProgress(&progress, "check " + InputName(path), KnownInputSize(reader.file), true);
  CounterTrack track;
  CheckCount count;
  capture::CaptureRecordView record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecordView(&reader, &record)) == capture::ReadOutcome::kRecord) {
    const FrameSplit split = SplitRecord(capture::ViewFrameLength(record), frameSize);
    if (split.whole) {
      ClearProgress(&progress);
      std::fflush(stdout);
      ReportWholeRecord(InputName(path), record, frameSize);
      ++count.keptWhole;
    }
    for (size_t i = 0; i < split.count; ++i) {
      CheckFrame(record, i, i * split.size, split.size, field, frameSize != 0, &track, &count, &progress);
    }
    UpdateProgress(&progress, reader.offset);
  }
  EndProgress(&progress);
  const double expected = static_cast<double>(track.frames + track.missing);
  std::printf("frames %" PRIu64 ", missing %" PRIu64 " (%.2f %%)\n", track.frames, track.missing,
              expected > 0 ? 100.0 * static_cast<double>(track.missing) / expected : 0.0);
  if (track.others > 0)
    std::printf("%s that lost frames do not explain\n", Counted(track.others, "jump").c_str());
  if (count.tooShort > 0)
    std::printf("%s too short for the counter\n", Counted(count.tooShort, "frame").c_str());
  if (count.keptWhole > 0) {
    std::printf("%s not a multiple of the frame size, checked whole\n",
                Counted(count.keptWhole, "record").c_str());
  }
  int status = track.missing > 0 || track.others > 0 || count.tooShort > 0 || count.keptWhole > 0
                   ? kExitFailed
                   : kExitOk;
  if (outcome == capture::ReadOutcome::kDamage) {
    std::fflush(stdout);
    ReportFileError(InputName(path), capture::FormatDamage(reader.damage));
    status = kExitFailed;
  }
  capture::CloseCaptureReader(&reader);
  return status;
}

}  // namespace tool
