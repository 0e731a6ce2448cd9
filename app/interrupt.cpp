#include "interrupt.h"

#include <cstdlib>

#include "capture_file.h"
#include "console.h"

std::atomic<uint8_t> g_running{1};
static_assert(std::atomic<uint8_t>::is_always_lock_free,
              "the loop reads the run flag on every pass; that must not take a lock");

// The steps and why they come in this order: interrupt.h.
void OnInterrupt(int) {
  g_running = 0;
  FreezeCaptureWrites();
  PrintLast("\nProgram closing......");
  std::exit(1);
}
