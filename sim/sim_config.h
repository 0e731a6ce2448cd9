// The simulator's scenario: which devices exist, where the received data
// comes from, and which faults to inject. Parsed from `key=value` items and
// script lines; see README.md for every key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faults.h"
#include "generated_frame.h"

namespace sim {

enum class Source { kGenerator, kScript, kReplay, kNone };
enum class Pacing { kStream, kLockstep };
enum class AfterEnd { kIdle, kRepeat };

struct DeviceEntry {
  std::string serial;        // at most 15 characters; may be empty
  bool detailFails = false;  // written as !SERIAL
};

enum class StepKind {
  kFrame,  // a frame; waits until the previous one was read
  kGap,    // a pause before the next frame
  kFail,   // the next call of a function fails
  kShort,  // the next read delivers at most this many bytes
  kBurst,  // the next frames arrive together
};

struct ScriptStep {
  StepKind kind = StepKind::kFrame;
  int line = 0;                // where it was written, for messages
  std::vector<uint8_t> bytes;  // kFrame written as hex bytes
  bool filled = false;         // kFrame written as MARKER LENGTH
  uint8_t marker = capture::kFrameMarker;
  uint32_t length = 0;
  uint32_t value = 0;                   // kGap: ms; kShort: bytes; kBurst: frame count
  Function function = Function::kRead;  // kFail
  uint32_t status = 0;                  // kFail
};

struct SimConfig {
  std::vector<DeviceEntry> devices{{"A0000001", false}, {"B0000001", false}};
  Source source = Source::kGenerator;
  Pacing pacing = Pacing::kStream;
  bool unlimitedRate = false;
  uint64_t rate = 1000000;  // bytes per second
  FrameShape shape;
  uint64_t frameLimit = 0;  // 0 = no limit
  AfterEnd after = AfterEnd::kIdle;
  std::vector<ScriptStep> script;
  std::string replayPath;
  FaultPlan faults;
  uint32_t burstEveryMs = 0;  // 0 = no bursts
  uint64_t burstBytes = 0;
  bool releaseSignal = false;  // signal the event once more when notification ends
};

// Applies the items of text on top of *config: later items override earlier
// ones, fail= and delay= items and script lines accumulate. origin names the
// text in messages ("SPI_SIM" or the scenario file's path). On failure
// returns false with "origin:line: message" in *error.
bool ParseScenario(const std::string& text, const std::string& origin, SimConfig* config, std::string* error);

// Checks the combination of keys once all text has been applied.
bool CheckScenario(const SimConfig& config, std::string* error);

}  // namespace sim
