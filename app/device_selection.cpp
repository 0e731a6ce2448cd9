#include "device_selection.h"

#include "console.h"
#include "d2xx.h"
#include "platform.h"

int32_t FindInterfaceA() {
  uint32_t count = 0;
  FT_CreateDeviceInfoList(&count);  // a failure leaves the count at 0
  for (uint32_t i = 0; i < count; ++i) {
    // Zero-filled before each query, so a serial it leaves untouched is empty.
    uint32_t flags = 0, type = 0, id = 0, locId = 0;
    char serialNumber[kSerialNumberSize] = {};
    char description[kDescriptionSize] = {};
    FT_HANDLE handle = nullptr;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &locId, serialNumber, description, &handle) != FT_OK)
      continue;
    if (serialNumber[0] == 'A') return static_cast<int32_t>(i);
  }
  return -1;
}

void ReportNoInterface() {
  Print("Open a FT4222 device failed!..\n");
  Print("Check the USB connection......\n");
  Print("Program will quit in 5 sec....\n");
  platform::SleepMs(5000);
}
