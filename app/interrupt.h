// Stopping: the run flag and the handler of every stop request.
//
// How a run ends. Ctrl+C, SIGTERM, SIGHUP, Ctrl+Break or a closed console
// window all end it the same way. The platform layer (platform.h) takes the
// first of them on a thread of its own and calls OnInterrupt there; any
// further one gets the system's default action. OnInterrupt then, in order:
//
//   1. clears g_running: the receive loop leaves at its next pass, and main
//      runs the orderly end (device, event, capture file);
//   2. FreezeCaptureWrites (capture_file.cpp): waits for an append under way,
//      which either completes or, failing, is cut back to the last whole
//      record first, then holds the write lock for good. From here on the
//      file ends on a record boundary, whatever else happens;
//   3. PrintLast (console.cpp): waits for a print under way, prints "\n" and
//      "Program closing......", and holds the console lock for good, so
//      nothing can follow the closing text. This comes after step 2 because
//      the print may end the process at once (SIGPIPE on a closed output);
//   4. std::exit(1): exit handlers run, streams are flushed, the process ends.
//
// Meanwhile the main thread runs on until it blocks at its next append or
// print, or, if it has finished the orderly end first, in
// platform::BlockForever (main.cpp), so that its return cannot end the
// process before the closing text is out. Only the handler's thread prints
// after step 3, and nothing writes the capture file after step 2.
#pragma once

#include <atomic>
#include <cstdint>

// 1 from program start, 0 once a stop request has arrived. Written by the
// handler's thread, read by the receive loop at the top of every pass.
extern std::atomic<uint8_t> g_running;

// The handler of every stop request, run on a thread of its own: the four
// steps above; never returns.
[[noreturn]] void OnInterrupt(int signalNumber);
