// Ctrl+C: the run flag and the handler that ends the process.
#pragma once

#include <atomic>
#include <cstdint>

// 1 from program start, 0 once an interrupt has arrived. Written by the
// interrupt's thread, read by the receive loop at the top of every pass.
extern std::atomic<uint8_t> g_running;

// The interrupt handler, run on a thread of its own: clears g_running, prints
// the closing text, lets an append under way finish and ends the process with
// status 1.
[[noreturn]] void OnInterrupt(int signalNumber);
