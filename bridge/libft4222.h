// The LibFT4222 support library's functions that the receiver calls. They work
// on a handle opened through D2XX and use the C default calling convention on
// every platform.
#pragma once

#include <cstdint>

#include "d2xx.h"

#if defined(_WIN32)
#define FT4222_API __cdecl
#else
#define FT4222_API
#endif

typedef uint32_t FT4222_STATUS;

enum : FT4222_STATUS { FT4222_OK = 0 };

// System clock selectors (32-bit enumeration values).
enum : uint32_t { SYS_CLK_60 = 0, SYS_CLK_24 = 1, SYS_CLK_48 = 2, SYS_CLK_80 = 3 };

// Driving strengths (32-bit enumeration values); 4 mA is the lowest.
enum : uint32_t { DS_4MA = 0, DS_8MA = 1, DS_12MA = 2, DS_16MA = 3 };

// Event mask bit: received data is waiting.
enum : uint32_t { FT4222_EVENT_RXCHAR = 8 };

extern "C" {

FT4222_STATUS FT4222_API FT4222_SetClock(FT_HANDLE handle, uint32_t clk);
FT4222_STATUS FT4222_API FT4222_SPISlave_Init(FT_HANDLE handle);
FT4222_STATUS FT4222_API FT4222_SPI_SetDrivingStrength(FT_HANDLE handle, uint32_t clkStrength,
                                                       uint32_t ioStrength, uint32_t ssoStrength);
FT4222_STATUS FT4222_API FT4222_SetEventNotification(FT_HANDLE handle, uint32_t mask, void* param);
FT4222_STATUS FT4222_API FT4222_SPISlave_GetRxStatus(FT_HANDLE handle, uint16_t* pRxSize);
FT4222_STATUS FT4222_API FT4222_SPISlave_Read(FT_HANDLE handle, uint8_t* buffer, uint16_t bufferSize,
                                              uint16_t* sizeOfRead);
FT4222_STATUS FT4222_API FT4222_UnInitialize(FT_HANDLE handle);

}  // extern "C"
