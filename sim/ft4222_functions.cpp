// The support library's functions, simulated: SPI-slave set-up with the
// chip's ordering rules, the receive event, and the receive path.
#include <algorithm>

#include "bridge_state.h"
#include "libft4222.h"
#include "sim_status.h"

namespace {

using sim::Function;
using sim::LogValue;

// Looks the handle up and checks the mode the call needs; the status to
// return, FT4222_OK when the call may go ahead.
FT4222_STATUS CheckDevice(const sim::Call& call, FT_HANDLE handle, bool needsSpiSlave,
                          sim::OpenDevice** device) {
  if (call.injected != 0) return call.injected;
  *device = sim::FindOpen(call.state, handle);
  if (*device == nullptr) return FT_INVALID_HANDLE;
  if (needsSpiSlave && !(*device)->spiSlave) return sim::kNotInSpiMode;
  return FT4222_OK;
}

}  // namespace

extern "C" {

FT4222_STATUS FT4222_API FT4222_SetClock(FT_HANDLE handle, uint32_t clk) {
  sim::Call call = sim::BeginCall(Function::kSetClock);
  sim::OpenDevice* device = nullptr;
  FT4222_STATUS status = CheckDevice(call, handle, false, &device);
  if (status == FT4222_OK && clk > SYS_CLK_80) status = sim::kClockNotSupported;
  sim::EndCall(&call, status, sim::Logging(call) ? sim::HandleArgument(handle) + LogValue("clock", clk) : "",
               "");
  return status;
}

FT4222_STATUS FT4222_API FT4222_SPISlave_Init(FT_HANDLE handle) {
  sim::Call call = sim::BeginCall(Function::kSPISlaveInit);
  sim::OpenDevice* device = nullptr;
  const FT4222_STATUS status = CheckDevice(call, handle, false, &device);
  if (status == FT4222_OK) device->spiSlave = true;
  sim::EndCall(&call, status, sim::Logging(call) ? sim::HandleArgument(handle) : "", "");
  return status;
}

FT4222_STATUS FT4222_API FT4222_SPI_SetDrivingStrength(FT_HANDLE handle, uint32_t clkStrength,
                                                       uint32_t ioStrength, uint32_t ssoStrength) {
  sim::Call call = sim::BeginCall(Function::kSetDrivingStrength);
  sim::OpenDevice* device = nullptr;
  FT4222_STATUS status = CheckDevice(call, handle, true, &device);
  if (status == FT4222_OK && std::max({clkStrength, ioStrength, ssoStrength}) > DS_16MA) {
    status = FT_INVALID_PARAMETER;
  }
  sim::EndCall(&call, status,
               sim::Logging(call) ? sim::HandleArgument(handle) + LogValue("clk", clkStrength) +
                                        LogValue("io", ioStrength) + LogValue("sso", ssoStrength)
                                  : "",
               "");
  return status;
}

FT4222_STATUS FT4222_API FT4222_SetEventNotification(FT_HANDLE handle, uint32_t mask, void* param) {
  sim::Call call = sim::BeginCall(Function::kSetEventNotification);
  sim::OpenDevice* device = nullptr;
  FT4222_STATUS status = CheckDevice(call, handle, true, &device);
  if (status == FT4222_OK && mask != 0 && param == nullptr) status = sim::kInvalidPointer;
  if (status == FT4222_OK) {
    device->event = mask != 0 ? param : nullptr;
    device->eventMask = mask;
    // From now on received data is announced, so the master may start.
    if ((mask & FT4222_EVENT_RXCHAR) != 0) sim::StartReceiving(&call, device->handleId);
  }
  sim::EndCall(&call, status,
               sim::Logging(call) ? sim::HandleArgument(handle) + LogValue("mask", mask) +
                                        (param != nullptr ? " param=set" : " param=null")
                                  : "",
               "");
  return status;
}

FT4222_STATUS FT4222_API FT4222_SPISlave_GetRxStatus(FT_HANDLE handle, uint16_t* pRxSize) {
  sim::Call call = sim::BeginCall(Function::kGetRxStatus);
  sim::OpenDevice* device = nullptr;
  FT4222_STATUS status = CheckDevice(call, handle, true, &device);
  if (status == FT4222_OK && pRxSize == nullptr) status = sim::kInvalidPointer;
  uint16_t pending = 0;
  if (status == FT4222_OK) {
    sim::AdvanceNow(&call, sim::TrafficNow(*call.state));
    if (call.state->trafficOwner == device->handleId)
      pending = static_cast<uint16_t>(call.state->traffic.rx.size);
    *pRxSize = pending;
  }
  sim::CountCall(&call, status);
  if (sim::Logging(call)) {
    sim::LogCall(&call, status, sim::HandleArgument(handle),
                 status == FT4222_OK ? LogValue("pending", pending) : "");
  }
  return status;
}

FT4222_STATUS FT4222_API FT4222_SPISlave_Read(FT_HANDLE handle, uint8_t* buffer, uint16_t bufferSize,
                                              uint16_t* sizeOfRead) {
  sim::Call call = sim::BeginCall(Function::kRead);
  sim::OpenDevice* device = nullptr;
  FT4222_STATUS status = CheckDevice(call, handle, true, &device);
  if (status == FT4222_OK && ((buffer == nullptr && bufferSize != 0) || sizeOfRead == nullptr)) {
    status = sim::kInvalidPointer;
  }
  uint16_t delivered = 0;
  if (status == FT4222_OK) {
    sim::BridgeState* state = call.state;
    const sim::TimePoint now = sim::TrafficNow(*state);
    sim::AdvanceNow(&call, now);
    if (state->trafficOwner == device->handleId) {
      const uint32_t deliverable =
          static_cast<uint32_t>(std::min<size_t>(bufferSize, state->traffic.rx.size));
      const uint32_t limit = sim::LimitRead(state->config.faults, deliverable, &state->faults);
      delivered = static_cast<uint16_t>(sim::ReadTraffic(&state->traffic, buffer, limit, now));
      // A lockstep or scripted source sends its next frame once this one is
      // read; a stream waiting for room may go on.
      sim::AdvanceNow(&call, now);
      sim::WakeReceiveThreadIfDue(state, now);
    }
    *sizeOfRead = delivered;
    sim::CallCounters& counters = state->counters;
    ++counters.reads;
    counters.bytesRead += delivered;
    if (delivered < bufferSize) ++counters.shortReads;
    if (delivered == 0) ++counters.emptyReads;
  }
  sim::CountCall(&call, status);
  if (sim::Logging(call)) {
    sim::LogCall(&call, status, sim::HandleArgument(handle) + LogValue("size", bufferSize),
                 status == FT4222_OK ? LogValue("read", delivered) : "");
  }
  return status;
}

FT4222_STATUS FT4222_API FT4222_UnInitialize(FT_HANDLE handle) {
  sim::Call call = sim::BeginCall(Function::kUnInitialize);
  sim::OpenDevice* device = nullptr;
  const FT4222_STATUS status = CheckDevice(call, handle, false, &device);
  if (status == FT4222_OK) {
    sim::SignalAtRelease(call.state, *device);
    device->spiSlave = false;
    device->event = nullptr;
    device->eventMask = 0;
    sim::StopReceiving(&call, device->handleId);  // may wait for the receive thread; device is not used after
  }
  sim::EndCall(&call, status, sim::Logging(call) ? sim::HandleArgument(handle) : "", "");
  sim::WriteStats(call.state);
  return status;
}

}  // extern "C"
