#include "bridge_state.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "libft4222.h"
#include "platform.h"

namespace sim {

namespace {

bool ReadWholeFile(const std::string& path, std::string* text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  size_t got = 0;
  text->clear();
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool LoadScenario(const SimSetup& setup, SimConfig* config, std::string* error) {
  if (!setup.scenarioPath.empty()) {
    std::string fileText;
    if (!ReadWholeFile(setup.scenarioPath, &fileText)) {
      *error = "cannot read scenario file " + setup.scenarioPath;
      return false;
    }
    if (!ParseScenario(fileText, setup.scenarioPath, config, error)) return false;
  }
  return ParseScenario(setup.scenarioText, "SPI_SIM", config, error) && CheckScenario(*config, error);
}

StatsSnapshot TakeSnapshot(const BridgeState& state) {
  StatsSnapshot snapshot;
  snapshot.calls = state.counters;
  snapshot.traffic = state.traffic.counters;
  snapshot.bytesPending = state.traffic.rx.size;
  snapshot.configError = state.configError;
  snapshot.replayError = state.traffic.replay.error;
  return snapshot;
}

void StopReceiveThread(BridgeState* state, std::unique_lock<std::mutex>* lock) {
  if (!state->receiveThread.joinable()) return;
  state->stopReceiveThread = true;
  state->wake.notify_all();
  std::thread thread = std::move(state->receiveThread);
  lock->unlock();
  thread.join();
  lock->lock();
  state->stopReceiveThread = false;
}

// Sends the traffic that is due by the clock while the receiver is not
// calling: stream frames, gaps, bursts.
void RunReceiveThread(BridgeState* state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  while (!state->stopReceiveThread) {
    if (void* event =
            CountEventToSignal(state, AdvanceTraffic(&state->traffic, &state->faults, Clock::now()))) {
      // Signalled without the lock: the receiver wakes and calls in at once,
      // and finding the lock still held would cost it another sleep and
      // wake-up per frame. The device cannot go away meanwhile: closing it
      // joins this thread first.
      lock.unlock();
      platform::SignalReceiveEvent(event);
      lock.lock();
      continue;
    }
    TimePoint due;
    const TimePoint now = Clock::now();
    if (!NextTrafficDue(&state->traffic, now, &due)) {
      state->receiveThreadWakesAt = TimePoint::max();
      state->wake.wait(lock);  // a read, a restart or the stop wakes it
    } else if (due > now) {
      state->receiveThreadWakesAt = due;
      state->wake.wait_until(lock, due);
    } else {
      // Behind the clock: let the receiver in before catching up further.
      lock.unlock();
      std::this_thread::yield();
      lock.lock();
    }
    state->receiveThreadWakesAt = TimePoint::min();
  }
}

// Applies a setup to a state nobody else is using: the receive thread is
// stopped and the caller holds the lock (or the state is brand new).
bool Configure(BridgeState* state, const SimSetup& setup, std::string* error) {
  state->setup = setup;
  CloseCallLog(&state->log);
  if (!setup.logPath.empty()) OpenCallLog(setup.logPath, &state->log);  // without a log when it cannot open
  state->counters = CallCounters{};
  state->open.clear();
  state->nextHandleId = 1;
  state->trafficOwner = 0;

  SimConfig config;
  std::string message;
  bool ok = LoadScenario(setup, &config, &message);
  ResetFaultState(config.shape.seed, &state->faults);
  if (ok) ok = InitTraffic(config, &state->faults, &state->traffic, &message);
  if (!ok) {
    // An invalid scenario must not print: the receiver's output has to stay
    // exact. It shows as a bridge without devices, and the reason goes to
    // the log and the stats.
    config = SimConfig{};
    config.devices.clear();
    config.source = Source::kNone;
    ResetFaultState(config.shape.seed, &state->faults);
    std::string ignored;
    InitTraffic(config, &state->faults, &state->traffic, &ignored);
  }
  state->config = config;
  state->configError = ok ? "" : message;
  if (!ok) {
    WriteCallLogLine(&state->log, "config_error" + LogText("message", message));
    WriteStats(state);
    if (error != nullptr) *error = message;
  }
  return ok;
}

void WriteStatsAtExit();

BridgeState* CreateState() {
  auto* state = new BridgeState;
  Configure(state, SimSetupFromEnvironment(), nullptr);
  std::atexit(WriteStatsAtExit);
  return state;
}

BridgeState* State() {
  // A pointer, never freed: no destructor may run while another thread is
  // still inside a call at exit.
  static BridgeState* const state = CreateState();
  return state;
}

void WriteStatsAtExit() {
  BridgeState* state = State();
  // Whoever holds the lock releases it within a call's work, so waiting a
  // little gets consistent numbers; after a second give up rather than hang
  // the exit.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (state->mutex.try_lock()) {
      WriteStats(state);
      state->mutex.unlock();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

}  // namespace

Call BeginCall(Function function) {
  Call call;
  call.state = State();
  call.function = function;
  call.lock = std::unique_lock<std::mutex>(call.state->mutex);
  const FaultPlan& plan = call.state->config.faults;
  const uint32_t delayMs = plan.delayRules.empty() ? 0 : InjectedDelayMs(plan, function, &call.state->faults);
  call.injected = InjectedFailure(plan, function, &call.state->faults);
  if (delayMs > 0) {
    ++call.state->counters.delayedCalls;
    call.lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    call.lock.lock();
  }
  return call;
}

void EndCall(Call* call, uint32_t status, const std::string& arguments, const std::string& outValues) {
  CountCall(call, status);
  if (Logging(*call)) LogCall(call, status, arguments, outValues);
}

void CountCall(Call* call, uint32_t status) {
  CallCounters& counters = call->state->counters;
  ++counters.calls;
  if (status != 0) ++counters.failedCalls;
  if (call->injected != 0 && status == call->injected) ++counters.injectedFailures;
}

void LogCall(Call* call, uint32_t status, const std::string& arguments, const std::string& outValues) {
  const bool injected = call->injected != 0 && status == call->injected;
  std::string line = FunctionName(call->function);
  line += arguments;
  line += " -> ";
  line += std::to_string(status);
  line += outValues;
  if (injected) line += " injected";
  WriteCallLogLine(&call->state->log, line);
}

size_t DeviceCount(const BridgeState& state) {
  return state.config.devices.size();
}

FT_HANDLE HandleFromId(uint32_t id) {
  return reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(id));
}

std::string HandleArgument(FT_HANDLE handle) {
  return LogValue("handle", reinterpret_cast<uintptr_t>(handle));
}

OpenDevice* FindOpen(BridgeState* state, FT_HANDLE handle) {
  const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
  for (OpenDevice& device : state->open) {
    if (device.handleId == id) return &device;
  }
  return nullptr;
}

void StartReceiving(Call* call, uint32_t handleId) {
  BridgeState* state = call->state;
  if (state->trafficOwner != 0) return;
  state->trafficOwner = handleId;
  SignalIfArrived(state, StartTraffic(&state->traffic, &state->faults, Clock::now()));
  if (TrafficNeedsClock(state->traffic) && !state->receiveThread.joinable()) {
    state->receiveThread = std::thread(RunReceiveThread, state);
  }
}

void StopReceiving(Call* call, uint32_t handleId) {
  BridgeState* state = call->state;
  if (state->trafficOwner != handleId) return;
  StopTraffic(&state->traffic);
  state->trafficOwner = 0;
  StopReceiveThread(state, &call->lock);
}

void AdvanceNow(Call* call, TimePoint now) {
  BridgeState* state = call->state;
  if (TrafficWaitsForRead(state->traffic)) return;
  SignalIfArrived(state, AdvanceTraffic(&state->traffic, &state->faults, now));
}

void WakeReceiveThreadIfDue(BridgeState* state, TimePoint now) {
  if (!state->receiveThread.joinable()) return;
  TimePoint due;
  if (NextTrafficDue(&state->traffic, now, &due) && due < state->receiveThreadWakesAt) {
    state->wake.notify_one();
  }
}

void* CountEventToSignal(BridgeState* state, bool arrived) {
  if (!arrived || state->trafficOwner == 0) return nullptr;
  for (const OpenDevice& device : state->open) {
    if (device.handleId != state->trafficOwner) continue;
    if (device.event == nullptr || (device.eventMask & FT4222_EVENT_RXCHAR) == 0) return nullptr;
    ++state->counters.eventsSignalled;
    return device.event;
  }
  return nullptr;
}

void SignalIfArrived(BridgeState* state, bool arrived) {
  if (!arrived) return;
  if (void* event = CountEventToSignal(state, arrived)) platform::SignalReceiveEvent(event);
}

void SignalAtRelease(BridgeState* state, const OpenDevice& device) {
  if (!state->config.releaseSignal || device.event == nullptr || state->trafficOwner != device.handleId)
    return;
  if ((device.eventMask & FT4222_EVENT_RXCHAR) == 0) return;
  ++state->counters.eventsSignalled;
  platform::SignalReceiveEvent(device.event);
}

void WriteStats(BridgeState* state) {
  if (state->setup.statsPath.empty()) return;
  WriteStatsFile(state->setup.statsPath, FormatStats(TakeSnapshot(*state)));
}

}  // namespace sim

SimSetup SimSetupFromEnvironment() {
  SimSetup setup;
  setup.scenarioText = sim::EnvironmentValue("SPI_SIM");
  setup.scenarioPath = sim::EnvironmentValue("SPI_SIM_SCENARIO");
  setup.logPath = sim::EnvironmentValue("SPI_SIM_LOG");
  setup.statsPath = sim::EnvironmentValue("SPI_SIM_STATS");
  return setup;
}

bool SimConfigure(const std::string& scenarioText, std::string* error) {
  SimSetup setup;
  setup.scenarioText = scenarioText;
  return SimConfigureSetup(setup, error);
}

bool SimConfigureSetup(const SimSetup& setup, std::string* error) {
  sim::BridgeState* state = sim::State();
  std::unique_lock<std::mutex> lock(state->mutex);
  sim::StopReceiveThread(state, &lock);
  return sim::Configure(state, setup, error);
}

std::string SimStatsText() {
  sim::BridgeState* state = sim::State();
  std::lock_guard<std::mutex> lock(state->mutex);
  return sim::FormatStats(sim::TakeSnapshot(*state));
}
