// A progress line on standard error for commands that run a while: shown
// only on a terminal, only after the first second, redrawn at most four
// times a second, and erased at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tool {

struct Progress {
  bool enabled = false;
  bool shown = false;
  std::string label;   // "verify run1.cap"
  uint64_t total = 0;  // bytes; 0 when unknown (standard input)
  std::chrono::steady_clock::time_point nextDraw;
  uint32_t untilClock = 0;  // updates left before the clock is read again
  size_t drawnWidth = 0;    // characters on the line now
};

// Starts a display for label. dataOnStdout: the command writes records to
// standard output, so when that is a terminal too the line stays off.
void StartProgress(Progress* progress, const std::string& label, uint64_t total, bool dataOnStdout);

// Redraws the line if it is time to (for a command that waits, and so
// cannot count on updates coming often).
void DrawProgress(Progress* progress, uint64_t done, const std::string& detail);

// Call for every record or so: cheap unless it is time to redraw.
inline void UpdateProgress(Progress* progress, uint64_t done, const char* detail = "") {
  if (!progress->enabled) return;
  if (progress->untilClock > 0) {
    --progress->untilClock;
    return;
  }
  DrawProgress(progress, done, detail);
}

// Erases the line, so that other output can follow; the next update draws
// it again.
void ClearProgress(Progress* progress);

// Erases the line for good.
void EndProgress(Progress* progress);

}  // namespace tool
