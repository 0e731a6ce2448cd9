// The non-zero statuses the simulated support library returns of its own.
// Handle errors use the driver library's FT_INVALID_HANDLE, as the support
// library passes the driver's statuses through.
#pragma once

#include "libft4222.h"

namespace sim {

constexpr FT4222_STATUS kClockNotSupported = 1001;  // FT4222_SetClock with an unknown clock
constexpr FT4222_STATUS kNotInSpiMode = 1003;       // the call needs FT4222_SPISlave_Init first
constexpr FT4222_STATUS kInvalidPointer = 1009;     // a required pointer was null

}  // namespace sim
