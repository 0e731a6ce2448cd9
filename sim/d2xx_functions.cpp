// The driver library's functions, simulated: device enumeration, opening and
// closing, and the USB settings (checked, then only logged).
#include <cstring>

#include "bridge_state.h"
#include "d2xx.h"

namespace {

using sim::Function;
using sim::LogText;
using sim::LogValue;

// Placeholder identity values; the receiver only looks at the serial.
constexpr uint32_t kDeviceType = 10;
constexpr uint32_t kDeviceId = 0x12340001;
constexpr uint32_t kFlagOpened = 1;

// FT_SetUSBParameters takes 64..65536 bytes in steps of 64; 0 keeps the default.
bool ValidTransferSize(uint32_t size) {
  return size == 0 || (size % 64 == 0 && size >= 64 && size <= 65536);
}

// The common shape of the calls that only need a valid handle.
FT_STATUS CheckHandleCall(Function function, FT_HANDLE handle, const std::string& moreArguments, bool valid) {
  sim::Call call = sim::BeginCall(function);
  FT_STATUS status = call.injected;
  if (status == FT_OK && sim::FindOpen(call.state, handle) == nullptr) status = FT_INVALID_HANDLE;
  if (status == FT_OK && !valid) status = FT_INVALID_PARAMETER;
  sim::EndCall(&call, status, sim::Logging(call) ? sim::HandleArgument(handle) + moreArguments : "", "");
  return status;
}

}  // namespace

extern "C" {

FT_STATUS D2XX_API FT_CreateDeviceInfoList(uint32_t* numDevs) {
  sim::Call call = sim::BeginCall(Function::kCreateDeviceInfoList);
  FT_STATUS status = call.injected;
  const uint32_t count = static_cast<uint32_t>(sim::DeviceCount(*call.state));
  if (status == FT_OK && numDevs == nullptr) status = FT_INVALID_PARAMETER;
  if (status == FT_OK) *numDevs = count;
  sim::EndCall(&call, status, "", status == FT_OK ? LogValue("count", count) : "");
  return status;
}

FT_STATUS D2XX_API FT_GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id,
                                          uint32_t* locId, char* serialNumber, char* description,
                                          FT_HANDLE* handle) {
  sim::Call call = sim::BeginCall(Function::kGetDeviceInfoDetail);
  FT_STATUS status = call.injected;
  const std::vector<sim::DeviceEntry>& devices = call.state->config.devices;
  if (status == FT_OK && index >= devices.size()) status = FT_DEVICE_NOT_FOUND;
  if (status == FT_OK && devices[index].detailFails) status = FT_IO_ERROR;
  std::string outValues;
  if (status == FT_OK) {
    const sim::DeviceEntry& device = devices[index];
    const sim::OpenDevice* opened = nullptr;
    for (const sim::OpenDevice& candidate : call.state->open) {
      if (candidate.deviceIndex == index) opened = &candidate;
    }
    const std::string name = std::string("FT4222 ") + static_cast<char>('A' + index);
    const uint32_t flagValue = opened != nullptr ? kFlagOpened : 0;
    if (flags != nullptr) *flags = flagValue;
    if (type != nullptr) *type = kDeviceType;
    if (id != nullptr) *id = kDeviceId;
    if (locId != nullptr) *locId = 0x100 + index;
    if (serialNumber != nullptr) std::memcpy(serialNumber, device.serial.c_str(), device.serial.size() + 1);
    if (description != nullptr) std::memcpy(description, name.c_str(), name.size() + 1);
    if (handle != nullptr) *handle = opened != nullptr ? sim::HandleFromId(opened->handleId) : nullptr;
    if (sim::Logging(call))
      outValues =
          LogValue("flags", flagValue) + LogText("serial", device.serial) + LogText("description", name);
  }
  sim::EndCall(&call, status, sim::Logging(call) ? LogValue("index", index) : "", outValues);
  return status;
}

FT_STATUS D2XX_API FT_Open(int32_t deviceNumber, FT_HANDLE* handle) {
  sim::Call call = sim::BeginCall(Function::kOpen);
  FT_STATUS status = call.injected;
  sim::BridgeState* state = call.state;
  if (status == FT_OK &&
      (deviceNumber < 0 || static_cast<size_t>(deviceNumber) >= sim::DeviceCount(*state))) {
    status = FT_DEVICE_NOT_FOUND;
  }
  if (status == FT_OK && handle == nullptr) status = FT_INVALID_PARAMETER;
  if (status == FT_OK) {
    for (const sim::OpenDevice& device : state->open) {
      if (device.deviceIndex == static_cast<size_t>(deviceNumber)) status = FT_DEVICE_NOT_OPENED;  // in use
    }
  }
  uint32_t handleId = 0;
  if (status == FT_OK) {
    handleId = state->nextHandleId++;
    sim::OpenDevice device;
    device.handleId = handleId;
    device.deviceIndex = static_cast<size_t>(deviceNumber);
    state->open.push_back(device);
    *handle = sim::HandleFromId(handleId);
  }
  sim::EndCall(&call, status,
               sim::Logging(call) ? LogValue("index", static_cast<unsigned long long>(deviceNumber)) : "",
               status == FT_OK ? LogValue("handle", handleId) : "");
  return status;
}

FT_STATUS D2XX_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  return CheckHandleCall(Function::kSetTimeouts, handle,
                         LogValue("read", readTimeoutMs) + LogValue("write", writeTimeoutMs), true);
}

FT_STATUS D2XX_API FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs) {
  return CheckHandleCall(Function::kSetLatencyTimer, handle, LogValue("latency", latencyMs), true);
}

FT_STATUS D2XX_API FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize) {
  return CheckHandleCall(Function::kSetUSBParameters, handle,
                         LogValue("in", inTransferSize) + LogValue("out", outTransferSize),
                         ValidTransferSize(inTransferSize) && ValidTransferSize(outTransferSize));
}

FT_STATUS D2XX_API FT_Close(FT_HANDLE handle) {
  sim::Call call = sim::BeginCall(Function::kClose);
  FT_STATUS status = call.injected;
  const sim::OpenDevice* device = sim::FindOpen(call.state, handle);
  if (status == FT_OK && device == nullptr) status = FT_INVALID_HANDLE;
  if (status == FT_OK) {
    const uint32_t handleId = device->handleId;
    sim::SignalAtRelease(call.state, *device);
    sim::StopReceiving(&call, handleId);  // may wait for the receive thread
    std::vector<sim::OpenDevice>& open = call.state->open;
    for (size_t i = 0; i < open.size(); ++i) {
      if (open[i].handleId != handleId) continue;
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  sim::EndCall(&call, status, sim::Logging(call) ? sim::HandleArgument(handle) : "", "");
  sim::WriteStats(call.state);
  return status;
}

}  // extern "C"
