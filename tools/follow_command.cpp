// spi-capture follow: gives out every whole record of a capture that is
// still being written, as it lands, until told to stop or the file stays
// still for long enough. It may start before the recording does: it waits
// for the file to appear.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "frame_split.h"
#include "input_file.h"
#include "output_file.h"
#include "platform.h"
#include "record_output.h"
#include "record_walk.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

// How long to wait when the file has nothing new: short enough that a
// reader of the output sees records at once, long enough to cost nothing.
constexpr uint32_t kPollMs = 20;

// Why a following that was not cut short by a failure ended.
enum class FollowEnd { kStopped, kIdle, kShrunk };

// Whole seconds since `since` reached the idle limit (0: none). In whole
// seconds: the limit may be too large for the clock's own ticks.
bool IdleFor(Clock::time_point since, uint64_t idleSeconds) {
  const auto idle = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since).count();
  return idleSeconds > 0 && static_cast<uint64_t>(idle) >= idleSeconds;
}

enum class Wait { kThere, kStopped, kFailed };

// Waits until path exists, so that follow can start before the recording.
Wait WaitForFile(const std::string& path, uint64_t idleSeconds, std::FILE* messages) {
  const Clock::time_point start = Clock::now();
  for (bool told = false;; told = true) {
    std::error_code code;
    if (std::filesystem::exists(std::filesystem::u8path(path), code)) return Wait::kThere;
    if (code) {
      ReportFileError(path, "cannot look for it: " + code.message());
      return Wait::kFailed;
    }
    if (!told) {
      std::fprintf(messages, "%s: waiting for it to appear\n", path.c_str());
      std::fflush(messages);
    }
    if (platform::StopRequested()) return Wait::kStopped;
    if (IdleFor(start, idleSeconds)) {
      ReportFileError(path, "did not appear within " + Counted(idleSeconds, "second"));
      return Wait::kFailed;
    }
    platform::SleepMs(kPollMs);
  }
}

// Follows path into writer until a stop request, idleness, or trouble.
WalkEnd Follow(const std::string& path, FrameWriter* writer, uint64_t idleSeconds, RecordWalk* walk,
               FollowEnd* ending) {
  std::string error;
  uint64_t lastSize = 0;
  Clock::time_point lastGrowth = Clock::now();
  WalkOptions options = ReadingFor("follow", writer->out->toStdout);
  options.caughtUp = [&](RecordWalk* at) {
    // Caught up: hand what there is to the reader of the output.
    if (!FlushOutput(writer->out, &error)) {
      ReportFileError(OutputName(*writer->out), error);
      return RecordStep::kFail;
    }
    uint64_t size = 0;
    if (!platform::OpenFileSize(at->reader.file, &size)) {
      ReportFileError(path, "cannot read its size");
      return RecordStep::kFail;
    }
    const uint64_t seen = at->reader.offset + (at->reader.end - at->reader.begin);
    if (size < seen) {
      BeforeMessage(at);
      ReportFileError(path, "shrank from " + Counted(seen, "byte") + " to " + std::to_string(size) +
                                "; a new recording may have emptied it");
      *ending = FollowEnd::kShrunk;
      return RecordStep::kStop;
    }
    if (size != lastSize) {
      lastSize = size;
      lastGrowth = Clock::now();
    }
    *ending = platform::StopRequested() ? FollowEnd::kStopped : FollowEnd::kIdle;
    if (*ending == FollowEnd::kStopped || IdleFor(lastGrowth, idleSeconds)) return RecordStep::kStop;
    DrawProgress(&at->progress, at->reader.offset, Counted(at->reader.index, "record"));
    platform::SleepMs(kPollMs);
    return RecordStep::kNext;
  };
  return WalkRecords(
      path, options,
      [&](RecordWalk* at, const capture::CaptureRecordView& record) {
        if (!WriteRecordFrames(writer, at, record, &error)) {
          BeforeMessage(at);
          ReportFileError(OutputName(*writer->out), error);
          return RecordStep::kFail;
        }
        if (!platform::StopRequested()) return RecordStep::kNext;
        *ending = FollowEnd::kStopped;
        return RecordStep::kStop;
      },
      walk);
}

}  // namespace

int RunFollow(const ParsedArgs& args) {
  RecordFormat format = RecordFormat::kCapture;
  if (!FormatOption(args, "follow", {RecordFormat::kCapture, RecordFormat::kRaw, RecordFormat::kCsv},
                    &format)) {
    return kExitUsage;
  }
  uint64_t idleSeconds = 0;
  if (!CountOption(args, "follow", "--idle-exit", &idleSeconds)) return kExitUsage;
  if (HasOption(args, "--idle-exit") && idleSeconds == 0) {
    ReportError("follow: --idle-exit needs at least 1 second");
    return kExitUsage;
  }
  size_t frameSize = 0;
  if (!FrameSizeOption(args, "follow", &frameSize)) return kExitUsage;
  Byte1Filter byte1;
  if (!Byte1Option(args, "follow", &byte1)) return kExitUsage;
  if (frameSize != 0 && format == RecordFormat::kCapture) {
    ReportError("follow: --frame-size goes with --format raw or csv");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  if (IsStdio(path)) {
    ReportError("follow: needs a capture file, not standard input");
    return kExitUsage;
  }
  const std::string outPath = HasOption(args, "-o") ? args.values.at("-o") : "-";
  if (OutputIsInput(outPath, {path})) return RefuseOutputIsInput(outPath);

  // Ctrl+C and SIGTERM end the following, not the process: what was
  // followed is still committed. Watched from here on, before any wait.
  platform::WatchStopRequests();
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  FrameWriter writer;
  writer.format = format;
  writer.frameSize = frameSize;
  writer.out = &out;
  writer.byte1 = &byte1;
  const Wait wait = WaitForFile(path, idleSeconds, MessageStream(out));
  FollowEnd ending = FollowEnd::kStopped;
  RecordWalk walk;
  WalkEnd end = WalkEnd::kFailed;
  std::error_code code;
  if (wait == Wait::kFailed) {
    // WaitForFile said why
  } else if (!BeginFrames(&writer, &error)) {
    ReportFileError(OutputName(out), error);
  } else if (wait == Wait::kStopped) {
    end = WalkEnd::kStopped;  // stopped before the file appeared: nothing followed
  } else if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), code)) {
    ReportFileError(path, "is not a regular file; follow needs a capture file being written");
  } else {
    end = Follow(path, &writer, idleSeconds, &walk, &ending);
  }
  if (end == WalkEnd::kFailed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  // Damage or a shrunk file ends it with status 1, keeping what was
  // followed before.
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  const std::string leftOut =
      byte1.active
          ? "; " + LeftOutText(byte1, frameSize != 0 && format != RecordFormat::kCapture ? "frame" : "record")
          : "";
  std::fprintf(MessageStream(out), "%s: followed %s%s\n", path.c_str(),
               Counted(walk.records, "record").c_str(), leftOut.c_str());
  return end == WalkEnd::kStopped && ending != FollowEnd::kShrunk ? kExitOk : kExitFailed;
}

}  // namespace tool
