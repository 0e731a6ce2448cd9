// The receive loop: wait for the bridge, read what it has buffered, store
// 'J' frames in the capture file and keep the status line up to date.
#pragma once

#include <fstream>
#include <string>

#include "d2xx.h"
#include "platform.h"

enum class LoopEnd {
  kInterrupted,  // g_running was found cleared
  kWriteFailed,  // the capture file could not be written; reported and cut back
};

LoopEnd RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, std::ofstream& captureFile,
                       const std::string& captureFileName);
