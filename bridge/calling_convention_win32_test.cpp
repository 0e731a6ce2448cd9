// Our declarations of the bridge functions must use the calling conventions
// of the vendor's 32-bit DLLs, D2XX stdcall and LibFT4222 cdecl. With the
// wrong one, every call leaves the stack pointer off by the size of its
// arguments, and with the real DLLs the receiver's stack slowly breaks. Each
// function of a stand-in written apart from our headers (abi_reference_win32.cpp)
// is called here through our declarations: the stack pointer must come back
// where it was, and every argument must arrive as passed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "d2xx.h"
#include "libft4222.h"

namespace {

// Outside the stack, whose pointer may be off.
volatile uintptr_t g_stackBefore = 0;
volatile uintptr_t g_stackAfter = 0;

// Evaluates `call` between two readings of the stack pointer: a difference is
// a disagreement between caller and callee about who removes the arguments.
// Then puts the stack pointer back, so that the test goes on to report the
// other functions (the file is built with a frame pointer, which keeps the
// locals reachable meanwhile).
#define MEASURE_STACK_DRIFT(drift, call)                               \
  do {                                                                 \
    asm volatile("movl %%esp, %0" : "=m"(g_stackBefore) : : "memory"); \
    call;                                                              \
    asm volatile("movl %%esp, %0" : "=m"(g_stackAfter) : : "memory");  \
    asm volatile("movl %0, %%esp" : : "m"(g_stackBefore) : "memory");  \
    drift = static_cast<intptr_t>(g_stackAfter - g_stackBefore);       \
  } while (0)

#define EXPECT_BALANCED_CALL(expectedStatus, call, ...)                        \
  do {                                                                         \
    uint32_t status = 0;                                                       \
    intptr_t drift = 0;                                                        \
    MEASURE_STACK_DRIFT(drift, status = (call));                               \
    EXPECT_EQ(drift, 0) << #call << ": the stack pointer moved";               \
    EXPECT_EQ(status, uint32_t{expectedStatus}) << #call;                      \
    EXPECT_EQ(LastArguments(), (std::vector<uint32_t>{__VA_ARGS__})) << #call; \
  } while (0)

// A pointer argument as the 32-bit stack slot it travels in.
uint32_t Bits(const void* pointer) {
  return reinterpret_cast<uint32_t>(pointer);
}

HMODULE g_reference = nullptr;

// The stand-in's function of that name, typed by our declaration of it.
template <typename Function>
Function Load(const char* name) {
  const FARPROC address = GetProcAddress(g_reference, name);
  EXPECT_NE(address, nullptr) << name;
  // Through void*: a direct cast from FARPROC's function type warns
  // (-Wcast-function-type).
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

std::vector<uint32_t> LastArguments() {
  const auto function = Load<uint32_t (*)(uint32_t*)>("AbiReferenceLastArguments");
  std::vector<uint32_t> arguments(8);
  arguments.resize(function != nullptr ? function(arguments.data()) : 0);
  return arguments;
}

class CallingConvention : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_reference = LoadLibraryA(std::filesystem::absolute(SPI_ABI_REFERENCE_DLL).string().c_str());
  }
  static void TearDownTestSuite() {
    if (g_reference != nullptr) FreeLibrary(g_reference);
  }
  void SetUp() override { ASSERT_NE(g_reference, nullptr) << "cannot load " << SPI_ABI_REFERENCE_DLL; }
};

TEST_F(CallingConvention, D2xxCallsThroughOurDeclarationsLeaveTheStackAsItWas) {
  const auto createList = Load<decltype(&FT_CreateDeviceInfoList)>("FT_CreateDeviceInfoList");
  const auto detail = Load<decltype(&FT_GetDeviceInfoDetail)>("FT_GetDeviceInfoDetail");
  const auto open = Load<decltype(&FT_Open)>("FT_Open");
  const auto setTimeouts = Load<decltype(&FT_SetTimeouts)>("FT_SetTimeouts");
  const auto setLatency = Load<decltype(&FT_SetLatencyTimer)>("FT_SetLatencyTimer");
  const auto setUsb = Load<decltype(&FT_SetUSBParameters)>("FT_SetUSBParameters");
  const auto close = Load<decltype(&FT_Close)>("FT_Close");

  uint32_t count = 0, flags = 0, type = 0, id = 0, locId = 0;
  char serial[kSerialNumberSize] = {}, description[kDescriptionSize] = {};
  FT_HANDLE handle = nullptr;
  const auto h = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A5A5A});
  EXPECT_BALANCED_CALL(0xD2000046, createList(&count), Bits(&count));
  EXPECT_EQ(count, 3u);
  EXPECT_BALANCED_CALL(0xD2000048, detail(7, &flags, &type, &id, &locId, serial, description, &handle), 7,
                       Bits(&flags), Bits(&type), Bits(&id), Bits(&locId), Bits(serial), Bits(description),
                       Bits(&handle));
  EXPECT_BALANCED_CALL(0xD2000001, open(-2, &handle), 0xFFFFFFFE, Bits(&handle));
  EXPECT_EQ(handle, reinterpret_cast<FT_HANDLE>(uintptr_t{0x1234}));
  EXPECT_BALANCED_CALL(0xD2000011, setTimeouts(h, 1000, 0xFFFFFFFF), Bits(h), 1000, 0xFFFFFFFF);
  EXPECT_BALANCED_CALL(0xD200001D, setLatency(h, 0xFF), Bits(h), 0xFF);
  EXPECT_BALANCED_CALL(0xD2000021, setUsb(h, 4096, 0), Bits(h), 4096, 0);
  EXPECT_BALANCED_CALL(0xD2000002, close(h), Bits(h));
}

TEST_F(CallingConvention, Ft4222CallsThroughOurDeclarationsLeaveTheStackAsItWas) {
  const auto setClock = Load<decltype(&FT4222_SetClock)>("FT4222_SetClock");
  const auto init = Load<decltype(&FT4222_SPISlave_Init)>("FT4222_SPISlave_Init");
  const auto setStrength = Load<decltype(&FT4222_SPI_SetDrivingStrength)>("FT4222_SPI_SetDrivingStrength");
  const auto notify = Load<decltype(&FT4222_SetEventNotification)>("FT4222_SetEventNotification");
  const auto rxStatus = Load<decltype(&FT4222_SPISlave_GetRxStatus)>("FT4222_SPISlave_GetRxStatus");
  const auto read = Load<decltype(&FT4222_SPISlave_Read)>("FT4222_SPISlave_Read");
  const auto unInitialize = Load<decltype(&FT4222_UnInitialize)>("FT4222_UnInitialize");

  const auto h = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A5A5A});
  void* event = reinterpret_cast<void*>(uintptr_t{0xE7E7E7E7});
  uint16_t pending = 0, delivered = 0;
  uint8_t buffer[16];
  EXPECT_BALANCED_CALL(0xF4000001, setClock(h, SYS_CLK_80), Bits(h), 3);
  EXPECT_BALANCED_CALL(0xF4000002, init(h), Bits(h));
  EXPECT_BALANCED_CALL(0xF4000003, setStrength(h, DS_4MA, DS_8MA, DS_16MA), Bits(h), 0, 1, 3);
  EXPECT_BALANCED_CALL(0xF4000004, notify(h, FT4222_EVENT_RXCHAR, event), Bits(h), 8, Bits(event));
  EXPECT_BALANCED_CALL(0xF4000005, rxStatus(h, &pending), Bits(h), Bits(&pending));
  EXPECT_EQ(pending, 0xBEEF);
  EXPECT_BALANCED_CALL(0xF4000006, read(h, buffer, 0xFFFF, &delivered), Bits(h), Bits(buffer), 0xFFFF,
                       Bits(&delivered));
  EXPECT_EQ(delivered, 0xFFFF);
  EXPECT_BALANCED_CALL(0xF4000007, unInitialize(h), Bits(h));
}

}  // namespace
