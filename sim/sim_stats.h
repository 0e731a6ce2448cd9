// The statistics file: what the simulated master sent and what the receiver
// did with it, as key=value lines, rewritten whole each time.
#pragma once

#include <cstdint>
#include <string>

#include "traffic.h"

namespace sim {

struct CallCounters {
  uint64_t calls = 0;
  uint64_t failedCalls = 0;       // calls that returned a non-zero status
  uint64_t injectedFailures = 0;  // of those, failures the scenario asked for
  uint64_t delayedCalls = 0;
  uint64_t reads = 0;  // successful FT4222_SPISlave_Read calls
  uint64_t bytesRead = 0;
  uint64_t shortReads = 0;  // successful reads that delivered fewer bytes than asked
  uint64_t emptyReads = 0;  // successful reads that delivered nothing
  uint64_t eventsSignalled = 0;
};

struct StatsSnapshot {
  CallCounters calls;
  TrafficCounters traffic;
  uint64_t bytesPending = 0;
  std::string configError;  // empty when the scenario was valid
  std::string replayError;
};

std::string FormatStats(const StatsSnapshot& stats);

// Replaces the file's contents with text; false when it cannot be written.
bool WriteStatsFile(const std::string& path, const std::string& text);

}  // namespace sim
