#include "console.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform.h"

namespace {

// Held by every Print and, at the end, by PrintLast, which never releases it.
// Never destroyed, so it stays valid while the process exits.
std::mutex& ConsoleLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::atomic<bool> g_console_closed{false};

}  // namespace

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  {
    std::lock_guard<std::mutex> guard(ConsoleLock());
    std::vprintf(format, args);
    if (std::fflush(stdout) != 0 && platform::IsBrokenPipe(errno)) g_console_closed = true;
  }
  va_end(args);
}

bool ConsoleClosed() {
  return g_console_closed;
}

void PrintLast(const char* text) {
  ConsoleLock().lock();
  std::fputs(text, stdout);
  std::fflush(stdout);
}
