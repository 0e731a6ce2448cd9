// Prints how fast the simulated bridge hands out lockstep frames through the
// receiver's calls (wait for data, ask what is pending, read it). This is
// the simulator's share of every receiver benchmark, so it must stay far
// below the receiver's own cost per frame.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "d2xx.h"
#include "libft4222.h"
#include "platform.h"
#include "sim_control.h"

namespace {

void Measure(const std::string& scenario) {
  std::string error;
  if (!SimConfigure(scenario, &error)) {
    std::printf("%s: %s\n", scenario.c_str(), error.c_str());
    return;
  }
  FT_HANDLE handle = nullptr;
  FT_Open(0, &handle);
  FT4222_SPISlave_Init(handle);
  platform::EventHandle event = platform::CreateReceiveEvent();
  FT4222_SetEventNotification(handle, FT4222_EVENT_RXCHAR, event);
  std::vector<uint8_t> buffer(65535);
  uint64_t bytes = 0;
  uint64_t reads = 0;
  const auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  do {
    for (int i = 0; i < 1024; ++i) {
      platform::WaitReceiveEvent(event, 1000);
      uint16_t pending = 0;
      uint16_t delivered = 0;
      FT4222_SPISlave_GetRxStatus(handle, &pending);
      FT4222_SPISlave_Read(handle, buffer.data(), pending, &delivered);
      bytes += delivered;
      ++reads;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 0.5);
  FT4222_UnInitialize(handle);
  FT_Close(handle);
  platform::CloseReceiveEvent(event);
  std::printf("%-40s %8.2f GB/s  %10.0f reads/s\n", scenario.c_str(), bytes / seconds / 1e9, reads / seconds);
}

}  // namespace

int main() {
  Measure("pacing=lockstep;frame=4096");
  Measure("pacing=lockstep;frame=65535");
  Measure("pacing=lockstep;frame=64-65535");
  Measure("pacing=lockstep;frame=64");
  return 0;
}
