#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// Held by every Print and, at the end, by PrintLast, which never releases it.
// Never destroyed, so it stays valid while the process exits.
std::mutex& ConsoleLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

}  // namespace

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  {
    std::lock_guard<std::mutex> guard(ConsoleLock());
    std::vprintf(format, args);
    std::fflush(stdout);
  }
  va_end(args);
}

void PrintLast(const char* text) {
  ConsoleLock().lock();
  std::fputs(text, stdout);
  std::fflush(stdout);
}
