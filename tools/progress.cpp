#include "progress.h"

#include <cstdio>

#include "platform.h"

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFirstDraw = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(250);
// Records between clock reads: far below a redraw interval even at a few
// million small records a second.
constexpr uint32_t kUpdatesPerClockRead = 1024;

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

void StartProgress(Progress* progress, const std::string& label, uint64_t total, bool dataOnStdout) {
  *progress = Progress();
  progress->enabled = platform::IsTerminal(stderr) && !(dataOnStdout && platform::IsTerminal(stdout));
  progress->label = label;
  progress->total = total;
  progress->nextDraw = Clock::now() + kFirstDraw;
}

void DrawProgress(Progress* progress, uint64_t done, const std::string& detail) {
  if (!progress->enabled) return;
  progress->untilClock = kUpdatesPerClockRead;
  const Clock::time_point now = Clock::now();
  if (now < progress->nextDraw) return;
  progress->nextDraw = now + kRedraw;
  std::string line = progress->label + ": " + Megabytes(done);
  if (progress->total > 0) {
    char percent[32];
    std::snprintf(percent, sizeof percent, " of %s (%.0f %%)", Megabytes(progress->total).c_str(),
                  100.0 * static_cast<double>(done) / static_cast<double>(progress->total));
    line += percent;
  }
  if (!detail.empty()) line += ", " + detail;
  // Blanks over the rest of a longer earlier line: plain text works on every
  // terminal and console.
  const size_t width = line.size();
  if (width < progress->drawnWidth) line.append(progress->drawnWidth - width, ' ');
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  progress->drawnWidth = width;
  progress->shown = true;
}

void ClearProgress(Progress* progress) {
  if (!progress->shown) return;
  std::fprintf(stderr, "\r%s\r", std::string(progress->drawnWidth, ' ').c_str());
  std::fflush(stderr);
  progress->shown = false;
  progress->drawnWidth = 0;
  progress->untilClock = 0;
  progress->nextDraw = Clock::now();
}

void EndProgress(Progress* progress) {
  ClearProgress(progress);
  progress->enabled = false;
}

}  // namespace tool
