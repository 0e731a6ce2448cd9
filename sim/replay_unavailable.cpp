// Stands in for replay_source.cpp in builds without the capture reader.
#include "replay_source.h"

namespace sim {

bool ReplayAvailable() {
  return false;
}

bool OpenReplay(const std::string& path, ReplaySource* replay, std::string* error) {
  replay->path = path;
  *error = "replay is not available in this build (no capture reader library)";
  return false;
}

bool NextReplayFrame(ReplaySource*) {
  return false;
}

bool RewindReplay(ReplaySource*) {
  return false;
}

void CloseReplay(ReplaySource* replay) {
  replay->open = false;
}

}  // namespace sim
