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

// The stop-request handling of one process: the first of SIGINT, SIGTERM and
// SIGHUP reaches the handler, with its number, on a thread other than the
// main one. A further one, sent while the handler runs, is held back for a
// moment (timeout sends its request twice), then gets the default action.
int g_first = 0;
int g_second = 0;
pthread_t g_main_thread;

void SendAnotherStopRequest(int signalNumber) {
  if (signalNumber != g_first) _exit(3);
  if (pthread_equal(pthread_self(), g_main_thread)) _exit(4);
  kill(getpid(), g_second);
  // A handler that ends the process within the hold is not cut short.
  platform::SleepMs(200);
  if (g_first == g_second) _exit(0);
  for (;;) pause();
}

void StopTwice(int first, int second) {
  g_first = first;
  g_second = second;
  g_main_thread = pthread_self();
  platform::InstallInterruptHandler(SendAnotherStopRequest);
  kill(getpid(), first);
  platform::SleepMs(10000);
  _exit(2);  // neither request ended the process
}

TEST(StopRequests, TheFirstReachesTheHandlerAndAFurtherOneGetsTheDefaultAction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (size_t i = 0; i < 3; ++i) {
    const int first = signals[i];
    const int second = signals[(i + 1) % 3];
    SCOPED_TRACE(std::string(strsignal(first)) + " then " + strsignal(second));
    EXPECT_EXIT(StopTwice(first, second), ::testing::KilledBySignal(second), "");
  }
}

TEST(StopRequests, ARequestSentTwiceAtOnceCountsOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    EXPECT_EXIT(StopTwice(signal, signal), ::testing::ExitedWithCode(0), "");
  }
}

// A follower ends on SIGTERM or Ctrl+C by itself; either must set the flag
// and leave the process running.
TEST(WatchedStopRequests, SigtermAndSigintSetTheFlagInsteadOfEndingTheProcess) {
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
