// Drives the simulated bridge in-process the way the receiver does, for the
// simulator's own tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "d2xx.h"
#include "decimal_number.h"
#include "libft4222.h"
#include "platform.h"
#include "sim_control.h"

namespace simtest {

// Owns the receive event; the fixture resets the simulator (stopping its
// receive thread) before the event goes away.
class BridgeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::string error;
    SimConfigure("source=none", &error);
    if (event_ != nullptr) platform::CloseReceiveEvent(event_);
  }

  void Configure(const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(SimConfigure(scenario, &error)) << error;
  }

  // Opens device 0 and sets it up as the receiver does; the handle is
  // handle_.
  void OpenLikeReceiver() {
    uint32_t count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    ASSERT_GT(count, 0u);
    ASSERT_EQ(FT_Open(0, &handle_), FT_OK);
    ASSERT_EQ(FT4222_SetClock(handle_, SYS_CLK_80), FT4222_OK);
    ASSERT_EQ(FT_SetTimeouts(handle_, 1000, 1000), FT_OK);
    ASSERT_EQ(FT_SetLatencyTimer(handle_, 1), FT_OK);
    ASSERT_EQ(FT_SetUSBParameters(handle_, 4096, 0), FT_OK);
    ASSERT_EQ(FT4222_SPISlave_Init(handle_), FT4222_OK);
    ASSERT_EQ(FT4222_SPI_SetDrivingStrength(handle_, DS_4MA, DS_4MA, DS_4MA), FT4222_OK);
    event_ = platform::CreateReceiveEvent();
    ASSERT_NE(event_, nullptr);
    ASSERT_EQ(FT4222_SetEventNotification(handle_, FT4222_EVENT_RXCHAR, event_), FT4222_OK);
  }

  void CloseLikeReceiver() {
    EXPECT_EQ(FT4222_UnInitialize(handle_), FT4222_OK);
    EXPECT_EQ(FT_Close(handle_), FT_OK);
  }

  uint16_t Pending() {
    uint16_t pending = 0;
    EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &pending), FT4222_OK);
    return pending;
  }

  // Reads what is pending in one read, as the receiver does.
  std::vector<uint8_t> ReadPending() {
    const uint16_t pending = Pending();
    std::vector<uint8_t> bytes(pending);
    uint16_t delivered = 0;
    EXPECT_EQ(FT4222_SPISlave_Read(handle_, bytes.data(), pending, &delivered), FT4222_OK);
    bytes.resize(delivered);
    return bytes;
  }

  // Polls until at least atLeast bytes are pending; false after a generous
  // limit.
  bool WaitForPending(uint16_t atLeast) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Pending() < atLeast) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  FT_HANDLE handle_ = nullptr;
  platform::EventHandle event_ = nullptr;
};

// A value of SimStatsText(); -1 when the key is missing or not a number.
inline long long Stat(const std::string& key) {
  std::istringstream lines(SimStatsText());
  std::string line;
  while (std::getline(lines, line)) {
    uint64_t value = 0;
    if (line.compare(0, key.size() + 1, key + "=") == 0) {
      return common::ParseDecimal(std::string_view(line).substr(key.size() + 1), INT64_MAX, &value)
                 ? static_cast<long long>(value)
                 : -1;
    }
  }
  return -1;
}

}  // namespace simtest
