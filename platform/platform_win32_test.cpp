#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "platform.h"

namespace {

// The bridge library sets the receive event with SetEvent from a thread of its
// own; the receiver's wait must see that signal exactly once.
TEST(ReceiveEvent, IsAnAutoResetEventThatSetEventSignals) {
  platform::EventHandle event = platform::CreateReceiveEvent();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // starts unsignalled
  std::thread library([event] { SetEvent(event); });
  library.join();
  EXPECT_TRUE(platform::WaitReceiveEvent(event, 1000));
  EXPECT_FALSE(platform::WaitReceiveEvent(event, 20));
  platform::SignalReceiveEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  platform::CloseReceiveEvent(event);
}

}  // namespace
