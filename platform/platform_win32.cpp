// Windows implementation of the platform interface.
#include <windows.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"

namespace platform {

EventHandle CreateReceiveEvent() {
  // Unnamed, auto-reset, not signalled, default security: the kind of event
  // the bridge library sets when data arrives.
  return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

bool WaitReceiveEvent(EventHandle event, uint32_t timeoutMs) {
  if (event == nullptr) return false;
  return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

void SignalReceiveEvent(EventHandle event) {
  if (event != nullptr) SetEvent(event);
}

void CloseReceiveEvent(EventHandle event) {
  if (event != nullptr) CloseHandle(event);
}

void SleepMs(uint32_t ms) {
  Sleep(ms);
}

int64_t WallClockSeconds() {
  return static_cast<int64_t>(_time64(nullptr));
}

bool ToLocalTime(int64_t seconds, std::tm* out) {
  const __time64_t t = seconds;
  return _localtime64_s(out, &t) == 0;
}

void InstallInterruptHandler(void (*handler)(int)) {
  // The C runtime calls the handler on the console's control thread, not on
  // the interrupted one, and resets SIGINT to its default first.
  std::signal(SIGINT, handler);
}

void BlockForever() {
  for (;;) Sleep(INFINITE);
}

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, errorNumber) != 0) return "error " + std::to_string(errorNumber);
  return buffer;
}

}  // namespace platform
