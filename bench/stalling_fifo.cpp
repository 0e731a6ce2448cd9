#include "stalling_fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

void ReadIntoCopy(StallingFifo* fifo) {
  const int in = open(fifo->path.c_str(), O_RDONLY);  // waits for the writer
  const int out = open(fifo->copyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return;
  const StallPlan& plan = fifo->plan;
  bool stalling = false;  // the first stall has come
  Clock::time_point nextStall{};
  static thread_local char bytes[1 << 16];
  ssize_t n = 0;
  while ((n = read(in, bytes, sizeof bytes)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || write(out, bytes, static_cast<size_t>(n)) != n) break;
    fifo->copied += static_cast<uint64_t>(n);
    if (!stalling && fifo->copied >= plan.afterBytes) {
      stalling = true;
      nextStall = Clock::now();
    }
    if (!stalling || Clock::now() < nextStall) continue;
    // The stall itself: the disk takes nothing for a while.
    std::this_thread::sleep_for(std::chrono::milliseconds(plan.stallMs));
    ++fifo->stalls;
    if (plan.closeAfterStall) break;
    nextStall =
        plan.workMs > 0 ? Clock::now() + std::chrono::milliseconds(plan.workMs) : Clock::time_point::max();
  }
  close(in);
  close(out);
}

}  // namespace

bool StartStallingFifo(const std::string& dir, const StallPlan& plan, StallingFifo* fifo,
                       std::string* error) {
  fifo->path = dir + "/capture.fifo";
  fifo->copyPath = dir + "/capture.bin";
  fifo->plan = plan;
  if (mkfifo(fifo->path.c_str(), 0644) != 0) {
    *error = std::string("mkfifo: ") + std::strerror(errno);
    return false;
  }
  fifo->reader = std::thread(ReadIntoCopy, fifo);
  return true;
}

void FinishStallingFifo(StallingFifo* fifo) {
  // A reader still waiting for its writer gets one that writes nothing.
  const int standIn = open(fifo->path.c_str(), O_WRONLY | O_NONBLOCK);
  if (standIn >= 0) close(standIn);
  fifo->reader.join();
}

}  // namespace bench
