// A disk that stalls, for the receiver's benchmark and process tests: a FIFO
// in place of the capture file, read by a thread of its own into a copy,
// which stops reading for a while as a busy disk stops taking writes. The
// receiver cannot tell it from a slow file, so any receiver, today's or an
// older one, can be measured and tested with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace bench {

struct StallPlan {
  uint64_t afterBytes = UINT64_MAX;  // the first stall comes once the copy holds this much
  int stallMs = 0;                   // how long each stall lasts
  int workMs = 0;                    // 0: one stall; else another after each workMs of normal work
  bool closeAfterStall = false;      // the reader goes away after the first stall
};

struct StallingFifo {
  std::string path;      // for the receiver, as its capture file
  std::string copyPath;  // what was read lands here, byte for byte
  StallPlan plan;
  std::thread reader;
  std::atomic<uint64_t> copied{0};
  std::atomic<int> stalls{0};
};

// Makes the FIFO and the copy in dir and starts the reader, which waits for
// a writer. False (with the reason) when the FIFO cannot be made.
bool StartStallingFifo(const std::string& dir, const StallPlan& plan, StallingFifo* fifo, std::string* error);

// Waits until the writer has closed the FIFO and the copy is complete; a
// writer that never came is stood in for, so this always returns.
void FinishStallingFifo(StallingFifo* fifo);

}  // namespace bench
