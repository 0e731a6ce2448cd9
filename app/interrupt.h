// Stopping: the run flag, the handler of every stop request, and the end of
// a run.
//
// How a run ends. Ctrl+C, SIGTERM, SIGHUP, Ctrl+Break or a closed console
// window all end it the same way. The platform layer (platform.h) takes the
// first of them on a thread of its own and calls OnInterrupt there; any
// further one gets the system's default action (on POSIX once a hold of
// three seconds has passed). The process ends only through EndRun, and only
// once: whoever comes second there waits for good, so two exits never race
// and nothing can follow the closing text.
//
// Before recording (device selection, the five-second pause, set-up) there
// is nothing to save: OnInterrupt clears g_running and ends the run itself,
// at once, whatever main is waiting for. EndRun prints "\n" and
// "Program closing......" and exits with status 1.
//
// While recording (BeginRecording to EndRecording) main owns the end, and
// OnInterrupt only asks: it clears g_running, wakes the loop (the receive
// event and the wait for room in the capture buffer) and waits. The loop
// leaves at once; main ends the recording, lets the writer write out every
// record handed over (within the few seconds a closing console leaves on
// Windows), releases the device, the event and the file, and calls EndRun.
// Should the loop not leave within half a second (a bridge call that hangs),
// OnInterrupt takes the end over: it has the writer write out what was handed
// over and ends the process, leaving the device to the system. Either way the
// file holds every record handed over before the request and ends on a
// record boundary, and the closing text is the console's last words.
//
// A failed write or set-up step ends the run through EndRun as well, after
// its message; the closing text follows only if a stop request came.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

// 1 from program start, 0 once a stop request has arrived. Written by the
// handler's thread, read by the receive loop at the top of every pass.
extern std::atomic<uint8_t> g_running;

// The handler of every stop request, run on a thread of its own; never
// returns: it ends the run, or waits while main ends it.
[[noreturn]] void OnInterrupt(int signalNumber);

// From now on a stop request calls wake instead of ending the run, and main
// ends it; finishWrites(finishBy) writes out what the loop handed over, for
// a stop request that has to end the run without main. Should a stop request
// already be ending the run, waits for good.
void BeginRecording(std::function<void()> wake,
                    std::function<void(std::chrono::steady_clock::time_point finishBy)> finishWrites);

// Main owns the end from now on: a stop request wakes nothing more. Returns
// the time by which the end must be over, as the stop request allows
// (time_point::max() when it sets no limit or none came). Should a stop
// request have taken the end over, waits for good.
std::chrono::steady_clock::time_point EndRecording();

// Ends the process, once: with the closing text and status 1 after a stop
// request; by the broken pipe's signal when standard output was closed;
// else with status.
[[noreturn]] void EndRun(int status);
