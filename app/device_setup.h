// Opening the selected interface and configuring it as an SPI slave that
// signals the receive event whenever data arrives.
#pragma once

#include <cstdint>

#include "d2xx.h"
#include "platform.h"

// Runs the set-up steps in order. On the first failure prints that step's
// line and returns false, leaving open whatever was taken (the process exit
// releases it).
bool SetUpDevice(int32_t index, FT_HANDLE* ftHandle, platform::EventHandle* event);
