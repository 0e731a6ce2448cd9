// Stopping: the run flag and the handler that ends the process. Every stop
// request (Ctrl+C, and SIGTERM, SIGHUP, Ctrl+Break or a closed console
// window) ends a run the same way.
#pragma once

#include <atomic>
#include <cstdint>

// 1 from program start, 0 once a stop request has arrived. Written by the
// interrupt's thread, read by the receive loop at the top of every pass.
extern std::atomic<uint8_t> g_running;

// The handler of every stop request, run on a thread of its own: clears
// g_running, prints the closing text, lets an append under way finish and
// ends the process with status 1.
[[noreturn]] void OnInterrupt(int signalNumber);
