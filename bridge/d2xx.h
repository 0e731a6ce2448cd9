// The D2XX driver library's functions that the receiver calls, declared with
// the argument widths the library uses so that the same calls link against
// the vendor's library or against our simulated bridge.
//
// On 32-bit Windows these functions use the stdcall convention; elsewhere the
// platform's C convention.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define D2XX_API __stdcall
#else
#define D2XX_API
#endif

typedef void* FT_HANDLE;
typedef uint32_t FT_STATUS;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INVALID_PARAMETER = 6
};

// Sizes of the text fields that FT_GetDeviceInfoDetail fills.
constexpr int kSerialNumberSize = 16;
constexpr int kDescriptionSize = 64;

extern "C" {

FT_STATUS D2XX_API FT_CreateDeviceInfoList(uint32_t* numDevs);
FT_STATUS D2XX_API FT_GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id,
                                          uint32_t* locId, char* serialNumber, char* description,
                                          FT_HANDLE* handle);
FT_STATUS D2XX_API FT_Open(int32_t deviceNumber, FT_HANDLE* handle);
FT_STATUS D2XX_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
FT_STATUS D2XX_API FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs);
FT_STATUS D2XX_API FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize);
FT_STATUS D2XX_API FT_Close(FT_HANDLE handle);

}  // extern "C"
