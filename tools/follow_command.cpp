// spi-capture follow: gives out every whole record of a capture that is
// still being written, as it lands, until told to stop or the file stays
// still for long enough.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "platform.h"
#include "progress.h"
#include "record_output.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

// How long to wait when the file has nothing new: short enough that a
// reader of the output sees records at once, long enough to cost nothing.
constexpr uint32_t kPollMs = 20;

enum class FollowFormat { kCapture, kRaw, kCsv };

bool ParseFollowFormat(const std::string& text, FollowFormat* format) {
  if (text == "capture") {
    *format = FollowFormat::kCapture;
  } else if (text == "raw") {
    *format = FollowFormat::kRaw;
  } else if (text == "csv") {
    *format = FollowFormat::kCsv;
  } else {
    return false;
  }
  return true;
}

struct Follower {
  FollowFormat format = FollowFormat::kCapture;
  OutputFile* out = nullptr;
  std::vector<uint8_t> frame;
  std::string line;
};

bool GiveOut(Follower* follower, const capture::CaptureRecordView& record, std::string* error) {
  switch (follower->format) {
    case FollowFormat::kCapture:
      return WriteOutput(follower->out, record.bytes, record.size, error);
    case FollowFormat::kRaw:
      return WriteRawFrame(follower->out, record, error);
    case FollowFormat::kCsv:
      break;
  }
  follower->frame.clear();
  capture::AppendViewFrame(record, 0, capture::ViewFrameLength(record), &follower->frame);
  FormatCsvRow(follower->frame, record.index, -1, record.offset, &follower->line);
  return WriteOutput(follower->out, follower->line.data(), follower->line.size(), error);
}

enum class FollowEnd { kStopped, kIdle, kShrunk, kDamaged, kFailed };

// Follows the reader's file until a stop request, idleness, or trouble.
FollowEnd Follow(const std::string& path, capture::CaptureReader* reader, Follower* follower,
                 uint64_t idleSeconds, Progress* progress) {
  std::string error;
  capture::CaptureRecordView record;
  uint64_t lastSize = 0;
  Clock::time_point lastGrowth = Clock::now();
  for (;;) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecordView(reader, &record);
    if (outcome == capture::ReadOutcome::kRecord) {
      if (!GiveOut(follower, record, &error)) {
        ReportFileError(OutputName(*follower->out), error);
        return FollowEnd::kFailed;
      }
      UpdateProgress(progress, reader->offset);
      if (platform::StopRequested()) return FollowEnd::kStopped;
      continue;
    }
    // A torn last record is the one being written: wait for its rest.
    if (outcome == capture::ReadOutcome::kDamage && !capture::ResumeCaptureReader(reader)) {
      ReportFileError(path, capture::FormatDamage(reader->damage));
      return reader->damage.kind == capture::DamageKind::kReadError ? FollowEnd::kFailed
                                                                    : FollowEnd::kDamaged;
    }
    // Caught up: hand what there is to the reader of the output.
    if (!FlushOutput(follower->out, &error)) {
      ReportFileError(OutputName(*follower->out), error);
      return FollowEnd::kFailed;
    }
    uint64_t size = 0;
    if (!platform::OpenFileSize(reader->file, &size)) {
      ReportFileError(path, "cannot read its size");
      return FollowEnd::kFailed;
    }
    const uint64_t seen = reader->offset + (reader->end - reader->begin);
    if (size < seen) {
      ReportFileError(path, "shrank from " + Counted(seen, "byte") + " to " + std::to_string(size) +
                                "; a new recording may have emptied it");
      return FollowEnd::kShrunk;
    }
    const Clock::time_point now = Clock::now();
    if (size != lastSize) {
      lastSize = size;
      lastGrowth = now;
    }
    if (platform::StopRequested()) return FollowEnd::kStopped;
    // In whole seconds: the limit may be too large for the clock's own ticks.
    const auto idle = std::chrono::duration_cast<std::chrono::seconds>(now - lastGrowth).count();
    if (idleSeconds > 0 && static_cast<uint64_t>(idle) >= idleSeconds) return FollowEnd::kIdle;
    DrawProgress(progress, reader->offset, Counted(reader->index, "record"));
    platform::SleepMs(kPollMs);
  }
}

}  // namespace

int RunFollow(const ParsedArgs& args) {
  FollowFormat format = FollowFormat::kCapture;
  if (HasOption(args, "--format") && !ParseFollowFormat(args.values.at("--format"), &format)) {
    ReportError("follow: unknown format '" + args.values.at("--format") + "' (capture, raw or csv)");
    return kExitUsage;
  }
  uint64_t idleSeconds = 0;
  if (!CountOption(args, "follow", "--idle-exit", &idleSeconds)) return kExitUsage;
  if (HasOption(args, "--idle-exit") && idleSeconds == 0) {
    ReportError("follow: --idle-exit needs at least 1 second");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  if (IsStdio(path)) {
    ReportError("follow: needs a capture file, not standard input");
    return kExitUsage;
  }
  const std::string outPath = HasOption(args, "-o") ? args.values.at("-o") : "-";
  if (OutputIsInput(outPath, {path})) return RefuseOutputIsInput(outPath);

  capture::CaptureReader reader;
  std::string error;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  uint64_t size = 0;
  if (!platform::OpenFileSize(reader.file, &size)) {
    capture::CloseCaptureReader(&reader);
    ReportFileError(path, "is not a regular file; follow needs a capture file being written");
    return kExitFailed;
  }
  OutputFile out;
  if (!CreateOutputFile(outPath, &out, &error)) {
    capture::CloseCaptureReader(&reader);
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  // Ctrl+C and SIGTERM end the following, not the process: what was
  // followed is still committed.
  platform::WatchStopRequests();
  Follower follower;
  follower.format = format;
  follower.out = &out;
  Progress progress;
  StartProgress(&progress, "follow " + path, 0, out.toStdout);
  FollowEnd end = FollowEnd::kFailed;
  if (format != FollowFormat::kCsv || WriteOutput(&out, kCsvHeader, std::strlen(kCsvHeader), &error)) {
    end = Follow(path, &reader, &follower, idleSeconds, &progress);
  } else {
    ReportFileError(OutputName(out), error);
  }
  EndProgress(&progress);
  const uint64_t records = reader.index;
  capture::CloseCaptureReader(&reader);
  if (end == FollowEnd::kFailed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::fprintf(MessageStream(out), "%s: followed %s\n", path.c_str(), Counted(records, "record").c_str());
  return end == FollowEnd::kStopped || end == FollowEnd::kIdle ? kExitOk : kExitFailed;
}

}  // namespace tool
