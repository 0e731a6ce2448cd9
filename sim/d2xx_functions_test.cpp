// Device enumeration, opening and handle checks of the simulated bridge.
#include <cstring>

#include "sim_status.h"
#include "sim_test_support.h"

namespace {

using simtest::BridgeTest;

struct DeviceInfo {
  FT_STATUS status;
  std::string serial;
  std::string description;
};

DeviceInfo Detail(uint32_t index) {
  uint32_t flags = 0;
  uint32_t type = 0;
  uint32_t id = 0;
  uint32_t locId = 0;
  char serial[kSerialNumberSize] = "untouched";
  char description[kDescriptionSize] = "untouched";
  FT_HANDLE handle = nullptr;
  const FT_STATUS status =
      FT_GetDeviceInfoDetail(index, &flags, &type, &id, &locId, serial, description, &handle);
  return {status, serial, description};
}

TEST_F(BridgeTest, DeviceListVariants) {
  const struct {
    const char* scenario;
    uint32_t count;
    std::vector<FT_STATUS> statuses;
    std::vector<std::string> serials;
  } cases[] = {
      {"", 2, {FT_OK, FT_OK}, {"A0000001", "B0000001"}},
      {"devices=", 0, {}, {}},
      {"devices=B1,A2", 2, {FT_OK, FT_OK}, {"B1", "A2"}},
      {"devices=-,!A1,A3", 3, {FT_OK, FT_IO_ERROR, FT_OK}, {"", "untouched", "A3"}},
      {"devices=123456789012345", 1, {FT_OK}, {"123456789012345"}},
  };
  for (const auto& c : cases) {
    Configure(c.scenario);
    uint32_t count = 99;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    ASSERT_EQ(count, c.count) << c.scenario;
    for (uint32_t i = 0; i < count; ++i) {
      const DeviceInfo info = Detail(i);
      EXPECT_EQ(info.status, c.statuses[i]) << c.scenario << " index " << i;
      EXPECT_EQ(info.serial, c.serials[i]) << c.scenario << " index " << i;
    }
    EXPECT_EQ(Detail(count).status, FT_DEVICE_NOT_FOUND);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(static_cast<int32_t>(count), &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(-1, &handle), FT_DEVICE_NOT_FOUND);
  }
  Configure("");
  EXPECT_EQ(Detail(0).description, "FT4222 A");
  EXPECT_EQ(Detail(1).description, "FT4222 B");
}

TEST_F(BridgeTest, AnInvalidScenarioShowsNoDevices) {
  std::string error;
  EXPECT_FALSE(SimConfigure("frame=0", &error));
  EXPECT_NE(error.find("frame"), std::string::npos);
  uint32_t count = 99;
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(simtest::Stat("frames_generated"), 0);
}

TEST_F(BridgeTest, OpenMarksTheDeviceAndRefusesASecondOpen) {
  Configure("");
  FT_HANDLE first = nullptr;
  FT_HANDLE second = nullptr;
  ASSERT_EQ(FT_Open(0, &first), FT_OK);
  EXPECT_EQ(FT_Open(0, &second), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
  uint32_t flags = 0;
  FT_HANDLE reported = nullptr;
  ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, &reported), FT_OK);
  EXPECT_EQ(flags & 1u, 1u);
  EXPECT_EQ(reported, first);
  ASSERT_EQ(FT_Open(1, &second), FT_OK);
  EXPECT_NE(first, second);
  EXPECT_EQ(FT_Close(first), FT_OK);
  EXPECT_EQ(FT_Close(second), FT_OK);
  EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
}

TEST_F(BridgeTest, EveryHandleCallRejectsUnknownAndClosedHandles) {
  Configure("");
  FT_HANDLE closed = nullptr;
  ASSERT_EQ(FT_Open(0, &closed), FT_OK);
  ASSERT_EQ(FT_Close(closed), FT_OK);
  uint8_t buffer[4];
  uint16_t size = 0;
  int dummyEvent = 0;
  for (FT_HANDLE bad :
       {closed, static_cast<FT_HANDLE>(nullptr), reinterpret_cast<FT_HANDLE>(uintptr_t{77})}) {
    EXPECT_EQ(FT_SetTimeouts(bad, 1000, 1000), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetLatencyTimer(bad, 1), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetUSBParameters(bad, 4096, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(bad), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SetClock(bad, SYS_CLK_80), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SPISlave_Init(bad), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SPI_SetDrivingStrength(bad, 0, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SetEventNotification(bad, FT4222_EVENT_RXCHAR, &dummyEvent), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SPISlave_GetRxStatus(bad, &size), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_SPISlave_Read(bad, buffer, 4, &size), FT_INVALID_HANDLE);
    EXPECT_EQ(FT4222_UnInitialize(bad), FT_INVALID_HANDLE);
  }
}

TEST_F(BridgeTest, SettingsAreChecked) {
  Configure("");
  ASSERT_EQ(FT_Open(0, &handle_), FT_OK);
  EXPECT_EQ(FT_SetUSBParameters(handle_, 4096, 0), FT_OK);
  EXPECT_EQ(FT_SetUSBParameters(handle_, 65536, 64), FT_OK);
  EXPECT_EQ(FT_SetUSBParameters(handle_, 100, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetUSBParameters(handle_, 4096, 131072), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT4222_SetClock(handle_, SYS_CLK_60), FT4222_OK);
  EXPECT_EQ(FT4222_SetClock(handle_, 4), sim::kClockNotSupported);
  EXPECT_EQ(FT_Close(handle_), FT_OK);
}

}  // namespace
