// Where received data comes from: the frame generator, a script, or a
// capture file being replayed, paced as a stream against the clock or in
// lockstep with the reads. Everything here runs under the bridge's lock;
// the caller signals the receive event when a function reports that data
// arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "faults.h"
#include "generated_frame.h"
#include "replay_source.h"
#include "rx_buffer.h"
#include "sim_config.h"

namespace sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct TrafficCounters {
  uint64_t framesGenerated = 0;  // frames the master sent, stored or not
  uint64_t jFrames = 0;
  uint64_t nonJFrames = 0;
  uint64_t bytesGenerated = 0;
  uint64_t bytesDropped = 0;   // lost to a full receive buffer
  uint64_t framesDropped = 0;  // frames that lost any of their bytes to it
  uint64_t maxPending = 0;
};

struct Traffic {
  // From the scenario.
  Source source = Source::kNone;
  Pacing pacing = Pacing::kStream;
  bool unlimitedRate = false;
  uint64_t rate = 1;
  uint64_t frameLimit = 0;
  AfterEnd after = AfterEnd::kIdle;
  std::vector<ScriptStep> script;
  uint32_t burstEveryMs = 0;
  uint64_t burstBytes = 0;
  FrameGenerator generator;  // also fills scripted MARKER LENGTH frames
  ReplaySource replay;

  bool needsClock = false;  // TrafficNeedsClock, worked out once

  RxBuffer rx;
  TrafficCounters counters;
  std::vector<uint8_t> scratch;  // a frame that cannot be written in place

  bool running = false;
  // Generator and replay.
  uint64_t nextSeq = 0;  // frames sent so far
  bool replayFrameReady = false;
  bool exhausted = false;
  TimePoint streamStart;
  uint64_t bytesScheduled = 0;  // stream bytes sent since streamStart
  // A due stream frame that does not fit may wait this long for room: the
  // time the stream takes to send one buffer's worth.
  Clock::duration holdLimit{};
  TimePoint lastReadAt = TimePoint::min();     // a read last took bytes out
  TimePoint lastArrivalAt = TimePoint::min();  // a frame last went in
  TimePoint nextBurst;
  // Script.
  size_t cursor = 0;
  bool waitingForRead = false;
  uint32_t burstLeft = 0;
  bool gapPending = false;
  TimePoint gapDue;
  uint64_t scriptFrames = 0;
};

// Sets the traffic up from a checked scenario, opening the replay file and
// arming the script's leading fail and short lines (so a script can fail the
// set-up calls). False with *error when the replay file cannot be opened.
bool InitTraffic(const SimConfig& config, FaultState* faults, Traffic* traffic, std::string* error);

// Starts or resumes sending at now; a stream is re-timed from now. True when
// data arrived.
bool StartTraffic(Traffic* traffic, FaultState* faults, TimePoint now);

// Stops sending; pending data stays.
void StopTraffic(Traffic* traffic);

// Sends everything that is due by now: stream frames whose time has come,
// bursts, the next lockstep or scripted frame once the buffer has been read
// empty. Call it after every read and whenever the clock may have made
// something due. True when data arrived.
bool AdvanceTraffic(Traffic* traffic, FaultState* faults, TimePoint now);

// Takes up to size of the oldest pending bytes out for a read at now and
// returns how many.
size_t ReadTraffic(Traffic* traffic, uint8_t* out, size_t size, TimePoint now);

// True when AdvanceTraffic has nothing to do whatever the time: traffic is
// stopped, or a source without the clock (lockstep, a script without gaps)
// waits for its last frame to be read. The receive path's quick case.
inline bool TrafficWaitsForRead(const Traffic& traffic) {
  return !traffic.running || (!traffic.needsClock && traffic.rx.size != 0);
}

// True when sending depends on the clock, so a thread must call
// AdvanceTraffic at the times NextTrafficDue gives. Otherwise the times
// passed in are not looked at, so callers need not read the clock.
inline bool TrafficNeedsClock(const Traffic& traffic) {
  return traffic.needsClock;
}

// When AdvanceTraffic next has something to send by the clock; false when
// only a read can make progress (or nothing will).
bool NextTrafficDue(Traffic* traffic, TimePoint now, TimePoint* due);

}  // namespace sim
