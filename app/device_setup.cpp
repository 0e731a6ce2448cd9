#include "device_setup.h"

#include "console.h"
#include "libft4222.h"

namespace {
// The device settings are fixed; nothing configures them.
constexpr uint32_t kReadTimeoutMs = 1000;
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr uint8_t kLatencyMs = 1;
constexpr uint32_t kInTransferSize = 4096;
constexpr uint32_t kOutTransferSize = 0;
}  // namespace

bool SetUpDevice(int32_t index, FT_HANDLE* ftHandle, platform::EventHandle* event) {
  *ftHandle = nullptr;
  if (FT_Open(index, ftHandle) != FT_OK) {
    Print("Open a FT4222 device failed!\n");
    return false;
  }
  if (FT4222_SetClock(*ftHandle, SYS_CLK_80) != FT4222_OK) {
    Print("FT4222_SetClock failed!\n");
    return false;
  }
  if (FT_SetTimeouts(*ftHandle, kReadTimeoutMs, kWriteTimeoutMs) != FT_OK) {
    Print("FT_SetTimeouts failed!\n");
    return false;
  }
  if (FT_SetLatencyTimer(*ftHandle, kLatencyMs) != FT_OK) {
    Print("FT_SetLatencyTimerfailed!\n");
    return false;
  }
  if (FT_SetUSBParameters(*ftHandle, kInTransferSize, kOutTransferSize) != FT_OK) {
    Print("FT_SetUSBParameters failed!\n");
    return false;
  }
  FT4222_STATUS ft4222_status = FT4222_SPISlave_Init(*ftHandle);
  if (ft4222_status != FT4222_OK) {
    Print("Init FT4222 as SPI slave device failed!\n");
    return false;
  }
  ft4222_status = FT4222_SPI_SetDrivingStrength(*ftHandle, DS_4MA, DS_4MA, DS_4MA);
  if (ft4222_status != FT4222_OK) {
    Print("FT4222_SPI_SetDrivingStrength failed!\n");
    return false;
  }
  // Not checked: should no event be created, a library that accepts none
  // makes every wait return at once, and the loop polls instead of waiting.
  *event = platform::CreateReceiveEvent();
  ft4222_status = FT4222_SetEventNotification(*ftHandle, FT4222_EVENT_RXCHAR, *event);
  if (ft4222_status != FT4222_OK) {
    Print("set event notification failed! ft4222_status = %d\n", static_cast<int32_t>(ft4222_status));
    // The library refused the event, so nothing refers to it any more.
    platform::CloseReceiveEvent(*event);
    *event = nullptr;
    return false;
  }
  return true;
}
