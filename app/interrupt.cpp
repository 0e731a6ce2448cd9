#include "interrupt.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "console.h"
#include "platform.h"

std::atomic<uint8_t> g_running{1};
static_assert(std::atomic<uint8_t>::is_always_lock_free,
              "the loop reads the run flag on every pass; that must not take a lock");

namespace {

using Clock = std::chrono::steady_clock;

// How long a stop request waits for the loop to leave before it ends the
// recording itself: far longer than any pass of the loop takes, unless a
// bridge call hangs.
constexpr auto kLoopLeaveLimit = std::chrono::milliseconds(500);

enum class Stage {
  kSetUp,      // nothing to save: a stop request ends the run itself
  kRecording,  // a stop request wakes the loop; main ends the run
  kMainEnds,   // main is ending the run; a stop request only clears the flag
  kEnding,     // the process is ending
};

struct RunEnd {
  std::mutex lock;
  std::condition_variable stageChanged;
  Stage stage = Stage::kSetUp;
  std::function<void()> wake;
  std::function<void(Clock::time_point)> finishWrites;
  Clock::time_point finishBy = Clock::time_point::max();
};

// Never destroyed, so it stays valid while the process exits.
RunEnd& TheRunEnd() {
  static auto* end = new RunEnd;
  return *end;
}

// The end of the process, for whoever has taken the stage to kEnding.
[[noreturn]] void EndProcess(int status) {
  if (ConsoleClosed()) platform::EndByBrokenPipe();
  if (g_running.load() == 0) {
    PrintLast("\nProgram closing......");
    status = 1;
  }
  std::exit(status);
}

}  // namespace

// The stages and what a stop request does in each: interrupt.h.
void OnInterrupt(int signalNumber) {
  RunEnd& end = TheRunEnd();
  std::unique_lock<std::mutex> lock(end.lock);
  g_running = 0;
  const uint32_t limitMs = platform::StopRequestTimeLimitMs(signalNumber);
  if (limitMs > 0) end.finishBy = Clock::now() + std::chrono::milliseconds(limitMs);
  if (end.stage == Stage::kSetUp) {
    end.stage = Stage::kEnding;
    lock.unlock();
    EndProcess(1);
  }
  if (end.stage == Stage::kRecording) {
    end.wake();
    // The loop leaves at once, unless it is stuck in a bridge call; then the
    // records handed over are written out from here, and the run ends.
    if (!end.stageChanged.wait_for(lock, kLoopLeaveLimit,
                                   [&end] { return end.stage != Stage::kRecording; })) {
      end.stage = Stage::kEnding;
      lock.unlock();
      end.finishWrites(end.finishBy);
      EndProcess(1);
    }
  }
  lock.unlock();
  platform::BlockForever();
}

void BeginRecording(std::function<void()> wake, std::function<void(Clock::time_point)> finishWrites) {
  RunEnd& end = TheRunEnd();
  std::unique_lock<std::mutex> lock(end.lock);
  if (end.stage == Stage::kEnding) {
    lock.unlock();
    platform::BlockForever();  // the handler is ending the run
  }
  end.wake = std::move(wake);
  end.finishWrites = std::move(finishWrites);
  end.stage = Stage::kRecording;
}

Clock::time_point EndRecording() {
  RunEnd& end = TheRunEnd();
  std::unique_lock<std::mutex> lock(end.lock);
  if (end.stage == Stage::kEnding) {
    lock.unlock();
    platform::BlockForever();  // the stop request is ending the run
  }
  end.stage = Stage::kMainEnds;
  end.stageChanged.notify_all();
  return end.finishBy;
}

void EndRun(int status) {
  RunEnd& end = TheRunEnd();
  {
    std::unique_lock<std::mutex> lock(end.lock);
    if (end.stage == Stage::kEnding) {
      lock.unlock();
      platform::BlockForever();
    }
    end.stage = Stage::kEnding;
  }
  EndProcess(status);
}
