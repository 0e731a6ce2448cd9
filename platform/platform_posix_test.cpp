#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
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

}  // namespace
