#include "replay_source.h"

namespace sim {

bool OpenReplay(const std::string& path, ReplaySource* replay, std::string* error) {
  CloseReplay(replay);
  replay->path = path;
  replay->error.clear();
  replay->reader = capture::CaptureReader{};
  if (!capture::OpenCaptureReader(path, &replay->reader, error)) return false;
  replay->open = true;
  return true;
}

bool NextReplayFrame(ReplaySource* replay) {
  if (!replay->open) return false;
  switch (capture::ReadCaptureRecord(&replay->reader, &replay->record)) {
    case capture::ReadOutcome::kRecord:
      return true;
    case capture::ReadOutcome::kEnd:
      return false;
    case capture::ReadOutcome::kDamage:
      replay->error = "record " + std::to_string(replay->reader.damage.index) + " at offset " +
                      std::to_string(replay->reader.damage.offset) + ": " + replay->reader.damage.message;
      return false;
  }
  return false;
}

bool RewindReplay(ReplaySource* replay) {
  const std::string path = replay->path;
  std::string error;
  if (OpenReplay(path, replay, &error)) return true;
  replay->error = error;
  return false;
}

void CloseReplay(ReplaySource* replay) {
  if (!replay->open) return;
  capture::CloseCaptureReader(&replay->reader);
  replay->open = false;
}

}  // namespace sim
