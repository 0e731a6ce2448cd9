#include "traffic.h"

#include <algorithm>

namespace sim {

namespace {

// Frames sent in one AdvanceTraffic call at most, so a stream that is far
// behind its clock cannot hold the lock for long.
constexpr int kMaxFramesPerAdvance = 1024;

void CountFrame(Traffic* traffic, uint8_t marker, size_t length, size_t stored) {
  TrafficCounters& counters = traffic->counters;
  ++counters.framesGenerated;
  ++(marker == capture::kFrameMarker ? counters.jFrames : counters.nonJFrames);
  counters.bytesGenerated += length;
  counters.bytesDropped += length - stored;
  if (stored < length) ++counters.framesDropped;
  counters.maxPending = std::max<uint64_t>(counters.maxPending, traffic->rx.size);
}

// Length of the next generator or replay frame; false when the source ended.
bool PeekFrame(Traffic* traffic, uint32_t* length) {
  if (traffic->exhausted) return false;
  if (traffic->frameLimit != 0 && traffic->nextSeq >= traffic->frameLimit) {
    traffic->exhausted = true;
    return false;
  }
  if (traffic->source == Source::kGenerator) {
    *length = GeneratedFrameLength(traffic->generator, traffic->nextSeq);
    return true;
  }
  if (traffic->source != Source::kReplay) return false;
  if (!traffic->replayFrameReady) {
    bool ready = NextReplayFrame(&traffic->replay);
    if (!ready && traffic->after == AfterEnd::kRepeat && traffic->replay.error.empty() &&
        RewindReplay(&traffic->replay)) {
      ready = NextReplayFrame(&traffic->replay);
    }
    if (!ready) {
      traffic->exhausted = true;
      return false;
    }
    traffic->replayFrameReady = true;
  }
  *length = static_cast<uint32_t>(traffic->replay.record.frame.size());
  return true;
}

// Sends the peeked frame at now: stores what fits and counts the rest as
// dropped. Returns the bytes stored.
size_t SendFrame(Traffic* traffic, uint32_t length, TimePoint now) {
  uint8_t marker = capture::kFrameMarker;
  size_t stored = 0;
  if (traffic->source == Source::kGenerator) {
    const FrameGenerator& generator = traffic->generator;
    marker = GeneratedFrameMarker(generator, traffic->nextSeq);
    if (uint8_t* place = RxFillEmpty(&traffic->rx, length)) {
      WriteFrame(generator, traffic->nextSeq, marker, length, place);  // the lockstep path: no extra copy
      stored = length;
    } else if (RxFree(traffic->rx) > 0) {
      traffic->scratch.resize(length);
      WriteFrame(generator, traffic->nextSeq, marker, length, traffic->scratch.data());
      stored = RxPush(&traffic->rx, traffic->scratch.data(), length);
    }  // else it is lost whole, and there is no need to build it
  } else {
    const std::vector<uint8_t>& frame = traffic->replay.record.frame;
    marker = frame.empty() ? 0 : frame[0];
    stored = RxPush(&traffic->rx, frame.data(), frame.size());
    traffic->replayFrameReady = false;
  }
  ++traffic->nextSeq;
  if (stored > 0) traffic->lastArrivalAt = now;
  CountFrame(traffic, marker, length, stored);
  return stored;
}

size_t SendScriptFrame(Traffic* traffic, const ScriptStep& step) {
  const uint8_t* bytes = step.bytes.data();
  size_t length = step.bytes.size();
  uint8_t marker = length > 0 ? step.bytes[0] : 0;
  if (step.filled) {
    traffic->scratch.resize(step.length);
    WriteFrame(traffic->generator, traffic->scriptFrames, step.marker, step.length, traffic->scratch.data());
    bytes = traffic->scratch.data();
    length = step.length;
    marker = step.marker;
  }
  ++traffic->scriptFrames;
  const size_t stored = RxPush(&traffic->rx, bytes, length);
  CountFrame(traffic, marker, length, stored);
  return stored;
}

// Sends whole frames until at least burstBytes went out at once.
bool SendBurst(Traffic* traffic, TimePoint now) {
  bool arrived = false;
  uint64_t sent = 0;
  uint32_t length = 0;
  while (sent < traffic->burstBytes && PeekFrame(traffic, &length)) {
    arrived |= SendFrame(traffic, length, now) > 0;
    sent += length;
  }
  return arrived;
}

TimePoint StreamFrameDue(const Traffic& traffic, uint32_t length) {
  const double seconds =
      static_cast<double>(traffic.bytesScheduled + length) / static_cast<double>(traffic.rate);
  return traffic.streamStart +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Whether a stream frame that was due at due and does not fit waits for room
// instead of losing what does not fit. The master's bytes arrive steadily, so
// a frame is lost only when the receiver let the buffer fill: it has not read
// since the frame was due although the bytes ahead of it were there by then.
// When this thread was late and put them in only now, or the receiver has
// read since, the frame waits, but for at most holdLimit past its time, so a
// receiver slower than the stream still loses data.
bool HoldStreamFrame(const Traffic& traffic, uint32_t length, TimePoint due, TimePoint now) {
  if (RxFree(traffic.rx) >= length || now >= due + traffic.holdLimit) return false;
  return traffic.lastReadAt >= due || traffic.lastArrivalAt > due;
}

void ArmFault(const ScriptStep& step, FaultState* faults) {
  if (step.kind == StepKind::kFail) {
    faults->armedFailure[static_cast<size_t>(step.function)] = step.status;
  } else {
    faults->shortReadArmed = true;
    faults->shortReadLength = step.value;
  }
}

bool ScriptHasFrames(const Traffic& traffic) {
  return std::any_of(traffic.script.begin(), traffic.script.end(),
                     [](const ScriptStep& step) { return step.kind == StepKind::kFrame; });
}

// Walks the script from the cursor until a frame has to wait for the
// previous one to be read, a gap has to pass, or the script ends.
bool RunScript(Traffic* traffic, FaultState* faults, TimePoint now) {
  bool arrived = false;
  for (;;) {
    if (traffic->waitingForRead) {
      if (traffic->rx.size != 0) return arrived;
      traffic->waitingForRead = false;
    }
    if (traffic->gapPending) {
      if (now < traffic->gapDue) return arrived;
      traffic->gapPending = false;
    }
    if (traffic->cursor == traffic->script.size()) {
      if (traffic->after != AfterEnd::kRepeat || !ScriptHasFrames(*traffic)) return arrived;
      traffic->cursor = 0;
    }
    const ScriptStep& step = traffic->script[traffic->cursor++];
    switch (step.kind) {
      case StepKind::kFail:
      case StepKind::kShort:
        ArmFault(step, faults);
        break;
      case StepKind::kGap:
        traffic->gapPending = true;
        traffic->gapDue = now + std::chrono::milliseconds(step.value);
        break;
      case StepKind::kBurst:
        traffic->burstLeft = step.value;
        break;
      case StepKind::kFrame:
        arrived |= SendScriptFrame(traffic, step) > 0;
        if (traffic->burstLeft > 0) --traffic->burstLeft;
        if (traffic->burstLeft == 0) traffic->waitingForRead = true;
        break;
    }
  }
}

bool AdvanceFrameSource(Traffic* traffic, TimePoint now) {
  bool arrived = false;
  uint32_t length = 0;
  int budget = kMaxFramesPerAdvance;
  if (traffic->pacing == Pacing::kLockstep) {
    if (traffic->rx.size == 0 && PeekFrame(traffic, &length)) arrived |= SendFrame(traffic, length, now) > 0;
  } else if (traffic->unlimitedRate) {
    // The master keeps the buffer as full as it can without losing data.
    while (budget-- > 0 && PeekFrame(traffic, &length) && RxFree(traffic->rx) >= length) {
      arrived |= SendFrame(traffic, length, now) > 0;
    }
  } else {
    while (budget-- > 0 && PeekFrame(traffic, &length)) {
      const TimePoint due = StreamFrameDue(*traffic, length);
      if (due > now || HoldStreamFrame(*traffic, length, due, now)) break;
      arrived |= SendFrame(traffic, length, now) > 0;
      traffic->bytesScheduled += length;
    }
  }
  if (traffic->burstEveryMs != 0 && traffic->nextBurst <= now) {
    arrived |= SendBurst(traffic, now);
    const auto every = std::chrono::milliseconds(traffic->burstEveryMs);
    traffic->nextBurst += every;
    // Bursts missed while nothing ran are skipped, not piled up.
    if (traffic->nextBurst <= now) traffic->nextBurst = now + every;
  }
  return arrived;
}

bool NeedsClock(const Traffic& traffic) {
  switch (traffic.source) {
    case Source::kScript:
      return std::any_of(traffic.script.begin(), traffic.script.end(),
                         [](const ScriptStep& step) { return step.kind == StepKind::kGap; });
    case Source::kGenerator:
    case Source::kReplay:
      return traffic.pacing == Pacing::kStream || traffic.burstEveryMs != 0;
    case Source::kNone:
      break;
  }
  return false;
}

}  // namespace

bool InitTraffic(const SimConfig& config, FaultState* faults, Traffic* traffic, std::string* error) {
  CloseReplay(&traffic->replay);
  *traffic = Traffic{};
  traffic->source = config.source;
  traffic->pacing = config.pacing;
  traffic->unlimitedRate = config.unlimitedRate;
  traffic->rate = config.rate;
  traffic->frameLimit = config.frameLimit;
  traffic->after = config.after;
  traffic->script = config.script;
  traffic->burstEveryMs = config.burstEveryMs;
  traffic->burstBytes = config.burstBytes;
  traffic->holdLimit = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(kRxCapacity) / static_cast<double>(config.rate)));
  InitFrameGenerator(config.shape, &traffic->generator);
  InitRxBuffer(&traffic->rx);
  traffic->scratch.reserve(kMaxFrameLength);
  traffic->needsClock = NeedsClock(*traffic);
  if (config.source == Source::kReplay && !OpenReplay(config.replayPath, &traffic->replay, error))
    return false;
  while (traffic->cursor < traffic->script.size() &&
         (traffic->script[traffic->cursor].kind == StepKind::kFail ||
          traffic->script[traffic->cursor].kind == StepKind::kShort)) {
    ArmFault(traffic->script[traffic->cursor++], faults);
  }
  return true;
}

bool StartTraffic(Traffic* traffic, FaultState* faults, TimePoint now) {
  traffic->running = true;
  traffic->streamStart = now;
  traffic->bytesScheduled = 0;
  traffic->lastReadAt = TimePoint::min();
  traffic->lastArrivalAt = TimePoint::min();
  traffic->nextBurst = now + std::chrono::milliseconds(traffic->burstEveryMs);
  return AdvanceTraffic(traffic, faults, now);
}

void StopTraffic(Traffic* traffic) {
  traffic->running = false;
}

bool AdvanceTraffic(Traffic* traffic, FaultState* faults, TimePoint now) {
  if (TrafficWaitsForRead(*traffic)) return false;
  switch (traffic->source) {
    case Source::kScript:
      return RunScript(traffic, faults, now);
    case Source::kGenerator:
    case Source::kReplay:
      return AdvanceFrameSource(traffic, now);
    case Source::kNone:
      break;
  }
  return false;
}

size_t ReadTraffic(Traffic* traffic, uint8_t* out, size_t size, TimePoint now) {
  const size_t taken = RxPop(&traffic->rx, out, size);
  if (taken > 0) traffic->lastReadAt = now;
  return taken;
}

bool NextTrafficDue(Traffic* traffic, TimePoint now, TimePoint* due) {
  if (!traffic->running) return false;
  if (traffic->source == Source::kScript) {
    if (!traffic->gapPending || traffic->waitingForRead) return false;
    *due = traffic->gapDue;
    return true;
  }
  uint32_t length = 0;
  if (!PeekFrame(traffic, &length)) return false;
  bool found = false;
  if (traffic->pacing == Pacing::kStream) {
    if (!traffic->unlimitedRate) {
      *due = StreamFrameDue(*traffic, length);
      // A frame waiting for room goes in with the next read, or is dropped
      // when its wait runs out.
      if (*due <= now && HoldStreamFrame(*traffic, length, *due, now)) *due += traffic->holdLimit;
      found = true;
    } else if (RxFree(traffic->rx) >= length) {
      *due = now;
      found = true;
    }
  }
  if (traffic->burstEveryMs != 0 && (!found || traffic->nextBurst < *due)) {
    *due = traffic->nextBurst;
    found = true;
  }
  return found;
}

}  // namespace sim
