// Windows implementation of the platform interface.
#include <windows.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"

namespace platform {

namespace {

void (*g_interrupt_handler)(int) = nullptr;

// Windows calls this on a thread of its own for every console control event:
// Ctrl+C, Ctrl+Break, the console window being closed, logoff and shutdown
// all stop the recording. The handler ends the process, well within the
// seconds Windows grants a handler before it ends the process itself.
BOOL WINAPI OnConsoleControl(DWORD controlType) {
  int signalNumber = SIGTERM;
  if (controlType == CTRL_C_EVENT) signalNumber = SIGINT;
  if (controlType == CTRL_BREAK_EVENT) signalNumber = SIGBREAK;
  // One-shot: a further event gets the default handling, which ends the
  // process at once.
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_interrupt_handler(signalNumber);
  return TRUE;
}

}  // namespace

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
  g_interrupt_handler = handler;
  // A program started in a new process group inherits "ignore Ctrl+C"; a
  // recording must stop on it all the same.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
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
