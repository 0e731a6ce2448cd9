// Replays a capture file: each stored record becomes a frame again. Built
// only when the capture reader library is part of the build; otherwise
// replay_unavailable.cpp reports that replay is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace sim {

struct ReplaySource {
  std::string path;
  capture::CaptureReader reader;
  capture::CaptureRecord record;
  bool open = false;
  std::string error;  // why the replay stopped early, if it did
};

bool OpenReplay(const std::string& path, ReplaySource* replay, std::string* error);

// The next stored frame, in replay->record.frame. False at the end of the
// file or at damage (then replay->error says what and where).
bool NextReplayFrame(ReplaySource* replay);

// Starts over from the first record; false when the file cannot be reopened.
bool RewindReplay(ReplaySource* replay);

void CloseReplay(ReplaySource* replay);

}  // namespace sim
