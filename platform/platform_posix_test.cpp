#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform.h"
#include "posix_event.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ElapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Some bridge libraries signal the condition without setting the flag; the
// waiter must still wake, well before its limit.
TEST(ReceiveEvent, ConditionSignalWithoutFlagWakesTheWaiter) {
  platform::EventHandle event = platform::CreateReceiveEvent();
  auto* raw = static_cast<platform::PosixEvent*>(event);
  std::atomic<bool> waiting{false};
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    waiting = true;
    woke = platform::WaitReceiveEvent(event, 10000);
  });
  while (!waiting) std::this_thread::yield();
  const auto start = Clock::now();
  while (!woke && ElapsedMs(start) < 5000) {
    pthread_mutex_lock(&raw->mutex);
    pthread_cond_signal(&raw->cond);
    pthread_mutex_unlock(&raw->mutex);
    platform::SleepMs(5);
  }
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_LT(ElapsedMs(start), 5000);
  platform::CloseReceiveEvent(event);
}

// A follower ends on SIGTERM or Ctrl+C by itself; either must set the flag
// and leave the process running.
TEST(StopRequests, SigtermAndSigintSetTheFlagInsteadOfEndingTheProcess) {
  EXPECT_FALSE(platform::StopRequested());
  platform::WatchStopRequests();
  EXPECT_FALSE(platform::StopRequested());
  raise(SIGTERM);
  EXPECT_TRUE(platform::StopRequested());
  raise(SIGINT);
  EXPECT_TRUE(platform::StopRequested());
}

TEST(Files, PipesHaveNoSizeAndAreNoTerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* readEnd = fdopen(fds[0], "rb");
  ASSERT_NE(readEnd, nullptr);
  uint64_t size = 0;
  EXPECT_FALSE(platform::OpenFileSize(readEnd, &size));
  EXPECT_FALSE(platform::IsTerminal(readEnd));
  std::fclose(readEnd);
  close(fds[1]);
}

}  // namespace
