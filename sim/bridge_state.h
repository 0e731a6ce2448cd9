// The simulated bridge's state and the frame every exported function runs
// in: BeginCall takes the lock and decides the injected faults, EndCall
// counts and logs the outcome.
//
// The receiver may end the process with exit() from another thread while a
// call is in progress, so the state is allocated once and never freed (no
// destructor can run under a caller), and the receive thread may be left
// running at exit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "call_log.h"
#include "d2xx.h"
#include "faults.h"
#include "sim_config.h"
#include "sim_control.h"
#include "sim_stats.h"
#include "traffic.h"

namespace sim {

struct OpenDevice {
  uint32_t handleId = 0;
  size_t deviceIndex = 0;
  bool spiSlave = false;
  void* event = nullptr;
  uint32_t eventMask = 0;
};

struct BridgeState {
  std::mutex mutex;
  std::condition_variable wake;  // the receive thread waits on it
  std::thread receiveThread;
  bool stopReceiveThread = false;
  // When the receive thread next looks by itself: max while it waits for a
  // wake-up, min while it runs. A read wakes it only for something earlier.
  TimePoint receiveThreadWakesAt = TimePoint::min();

  SimSetup setup;
  SimConfig config;
  std::string configError;  // empty when the scenario is valid
  CallLog log;
  CallCounters counters;
  FaultState faults;
  Traffic traffic;

  std::vector<OpenDevice> open;
  uint32_t nextHandleId = 1;
  uint32_t trafficOwner = 0;  // handle that receives the traffic; 0 = none
};

struct Call {
  BridgeState* state = nullptr;
  std::unique_lock<std::mutex> lock;
  Function function = Function::kRead;
  uint32_t injected = 0;  // status to fail with, 0 for none
};

// Configures on first use, holds the call up by any injected delay, takes the
// lock and decides whether the call fails by injection.
Call BeginCall(Function function);

inline bool Logging(const Call& call) {
  return CallLogEnabled(call.state->log);
}

// Counts the call and logs "NAME<arguments> -> STATUS<outValues>"; arguments
// and outValues are built with LogValue/LogText (only when Logging).
void EndCall(Call* call, uint32_t status, const std::string& arguments, const std::string& outValues);

// EndCall in two halves, for the receive path, which builds no strings when
// nothing is logged: CountCall always, then LogCall when Logging.
void CountCall(Call* call, uint32_t status);
void LogCall(Call* call, uint32_t status, const std::string& arguments, const std::string& outValues);

size_t DeviceCount(const BridgeState& state);

FT_HANDLE HandleFromId(uint32_t id);
// " handle=N" for the log.
std::string HandleArgument(FT_HANDLE handle);
// The open device behind handle, or null for a handle not handed out or
// already closed.
OpenDevice* FindOpen(BridgeState* state, FT_HANDLE handle);

// Makes device the receiver of the traffic (if none is) and starts sending.
void StartReceiving(Call* call, uint32_t handleId);
// Stops the traffic when handleId receives it; waits for the receive thread.
void StopReceiving(Call* call, uint32_t handleId);

// The time to pass to the traffic: the clock when the traffic depends on
// it, otherwise no time at all (lockstep needs no clock read per call).
inline TimePoint TrafficNow(const BridgeState& state) {
  return TrafficNeedsClock(state.traffic) ? Clock::now() : TimePoint();
}

// Lets traffic that is due by now (from TrafficNow) arrive, signalling the
// event.
void AdvanceNow(Call* call, TimePoint now);

// Wakes the receive thread when traffic is due before it would look by
// itself: a read made room for a stream or started a script's gap.
void WakeReceiveThreadIfDue(BridgeState* state, TimePoint now);

// The receiving device's event when arrived is true and it asked for
// notification, counted in events_signalled (the caller signals it); null
// otherwise.
void* CountEventToSignal(BridgeState* state, bool arrived);

// Signals the receiving device's event when arrived is true.
void SignalIfArrived(BridgeState* state, bool arrived);

// With release_signal=1, signals the device's event once more as its
// notification ends, as a library whose receive thread is still finishing
// may: a receiver that freed the event before releasing the device is caught.
void SignalAtRelease(BridgeState* state, const OpenDevice& device);

// Rewrites the stats file, if one is configured.
void WriteStats(BridgeState* state);

}  // namespace sim
