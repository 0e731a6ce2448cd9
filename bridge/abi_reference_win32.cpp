// A stand-in for the vendor's 32-bit DLLs, written from their documented
// interfaces and not from d2xx.h or libft4222.h: the D2XX functions are
// stdcall (the callee removes its arguments from the stack), the LibFT4222
// functions cdecl (the caller removes them). Each function records the
// arguments it was given, so that a caller using our declarations can see
// that they arrived and that the stack was left as it was.
#include <cstdint>
#include <initializer_list>

namespace {

uint32_t g_arguments[8];
uint32_t g_argumentCount = 0;

void Record(std::initializer_list<uint32_t> arguments) {
  g_argumentCount = 0;
  for (uint32_t argument : arguments) g_arguments[g_argumentCount++] = argument;
}

// A pointer argument as the 32-bit stack slot it travels in.
uint32_t Bits(const void* pointer) {
  return reinterpret_cast<uint32_t>(pointer);
}

// Distinct statuses, so a test sees which function answered.
constexpr uint32_t kD2xxStatus = 0xD2000000;
constexpr uint32_t kFt4222Status = 0xF4000000;

}  // namespace

#define D2XX extern "C" __declspec(dllexport) uint32_t __stdcall
#define FT4222 extern "C" __declspec(dllexport) uint32_t __cdecl

D2XX FT_CreateDeviceInfoList(uint32_t* count) {
  Record({Bits(count)});
  *count = 3;
  return kD2xxStatus + 70;
}
D2XX FT_GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id, uint32_t* locId,
                            char* serialNumber, char* description, void** handle) {
  Record({index, Bits(flags), Bits(type), Bits(id), Bits(locId), Bits(serialNumber), Bits(description),
          Bits(handle)});
  return kD2xxStatus + 72;
}
D2XX FT_Open(int32_t index, void** handle) {
  Record({static_cast<uint32_t>(index), Bits(handle)});
  *handle = reinterpret_cast<void*>(uintptr_t{0x1234});
  return kD2xxStatus + 1;
}
D2XX FT_SetTimeouts(void* handle, uint32_t readMs, uint32_t writeMs) {
  Record({Bits(handle), readMs, writeMs});
  return kD2xxStatus + 17;
}
D2XX FT_SetLatencyTimer(void* handle, uint8_t latencyMs) {
  Record({Bits(handle), latencyMs});
  return kD2xxStatus + 29;
}
D2XX FT_SetUSBParameters(void* handle, uint32_t inSize, uint32_t outSize) {
  Record({Bits(handle), inSize, outSize});
  return kD2xxStatus + 33;
}
D2XX FT_Close(void* handle) {
  Record({Bits(handle)});
  return kD2xxStatus + 2;
}

FT4222 FT4222_SetClock(void* handle, uint32_t clock) {
  Record({Bits(handle), clock});
  return kFt4222Status + 1;
}
FT4222 FT4222_SPISlave_Init(void* handle) {
  Record({Bits(handle)});
  return kFt4222Status + 2;
}
FT4222 FT4222_SPI_SetDrivingStrength(void* handle, uint32_t clock, uint32_t io, uint32_t slaveSelect) {
  Record({Bits(handle), clock, io, slaveSelect});
  return kFt4222Status + 3;
}
FT4222 FT4222_SetEventNotification(void* handle, uint32_t mask, void* parameter) {
  Record({Bits(handle), mask, Bits(parameter)});
  return kFt4222Status + 4;
}
FT4222 FT4222_SPISlave_GetRxStatus(void* handle, uint16_t* pending) {
  Record({Bits(handle), Bits(pending)});
  *pending = 0xBEEF;
  return kFt4222Status + 5;
}
FT4222 FT4222_SPISlave_Read(void* handle, uint8_t* buffer, uint16_t size, uint16_t* delivered) {
  Record({Bits(handle), Bits(buffer), size, Bits(delivered)});
  *delivered = size;
  return kFt4222Status + 6;
}
FT4222 FT4222_UnInitialize(void* handle) {
  Record({Bits(handle)});
  return kFt4222Status + 7;
}

// The arguments of the last call, for the test.
extern "C" __declspec(dllexport) uint32_t AbiReferenceLastArguments(uint32_t* out) {
  for (uint32_t i = 0; i < g_argumentCount; ++i) out[i] = g_arguments[i];
  return g_argumentCount;
}
