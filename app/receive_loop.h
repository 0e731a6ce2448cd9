// The receive loop: wait for the bridge, read what it has buffered, store
// 'J' frames in the capture file and keep the status line up to date.
#pragma once

#include "capture_file.h"
#include "d2xx.h"
#include "platform.h"

// Runs until a stop request clears g_running, or until a write to the
// capture file fails (reported; the writer has cut the file back).
void RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, CaptureFile& captureFile);
