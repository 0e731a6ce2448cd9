#include "interrupt.h"

#include <cstdlib>

#include "capture_file.h"
#include "console.h"

std::atomic<uint8_t> g_running{1};
static_assert(std::atomic<uint8_t>::is_always_lock_free,
              "the run flag must be safe to write from a signal context");

void OnInterrupt(int) {
  g_running = 0;
  // The file must end on a record boundary: wait for an append under way and
  // keep the main thread from starting another before the process ends. This
  // comes before the closing text, since printing may end the process at
  // once (SIGPIPE, when standard output was closed).
  FreezeCaptureWrites();
  // The main thread may be anywhere, set-up included, and would print on:
  // the closing text must be the last thing on the console.
  PrintLast("\nProgram closing......");
  std::exit(1);
}
