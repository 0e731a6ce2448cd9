// The receive loop: wait for the bridge, read what it has buffered, hand 'J'
// frames to the capture buffer as records and keep the status line up to
// date.
#pragma once

#include "capture_buffer.h"
#include "d2xx.h"
#include "platform.h"

// Runs until a stop request clears g_running, a write to the capture file
// fails, or standard output's reader has gone. Never waits on the disk, only,
// when the capture buffer is full, for room in it, and then says so once the
// buffer has drained to half (or the loop ends).
void RunReceiveLoop(FT_HANDLE ftHandle, platform::EventHandle event, CaptureBuffer& buffer);
