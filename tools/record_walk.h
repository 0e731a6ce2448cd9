// The walk over a capture's records that most commands make: open the input
// ("-" is standard input), show progress, hand each record to the command,
// and report what ended it (damage, a failed read) in the usual form. A
// command supplies what to do with one record and what to say at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "capture_reader.h"
#include "progress.h"

namespace tool {

// What a record handler tells the walk.
enum class RecordStep {
  kNext,  // go on
  kStop,  // enough: end the walk without reading on
  kFail,  // the command failed (and said why): end the walk
};

enum class WalkEnd {
  kEnd,      // the input ended cleanly
  kDamage,   // damage ended it: reported (unless quietDamage), and in `damage`
  kStopped,  // the handler stopped it
  kFailed,   // the input could not be opened or read (reported), or the handler failed
};

struct RecordWalk {
  std::string name;  // the input as messages name it: "standard input" for "-"
  capture::CaptureReader reader;
  Progress progress;
  WalkEnd end = WalkEnd::kFailed;
  uint64_t records = 0;     // whole records read
  uint64_t validBytes = 0;  // the bytes those records take
  uint64_t size = 0;        // the input's size; unknown (0) when stopped early on a stream
  capture::Damage damage;   // where damage or a failed read ended the walk
  std::string failure;      // why the input could not be opened or read, without its name
};

using RecordHandler = std::function<RecordStep(RecordWalk* walk, const capture::CaptureRecordView& record)>;

struct WalkOptions {
  const char* command = "";   // the progress line's first word
  bool dataOnStdout = false;  // the command writes its data to standard output
  bool quietDamage = false;   // the command reports damage its own way (a failed read is still reported)
  // For an input still being written: called each time the walk has caught
  // up (at the end, or at a torn last record, which is one being written);
  // kNext looks again. Without it the walk ends there.
  std::function<RecordStep(RecordWalk* walk)> caughtUp;
};

// The options of a plain walk: the command's name, and whether it writes
// its data to standard output.
WalkOptions ReadingFor(const char* command, bool dataOnStdout = false);

// Walks path's records through onRecord (may be empty) until the end,
// damage, or the handler ends it; the input is closed again at the end.
WalkEnd WalkRecords(const std::string& path, const WalkOptions& options, const RecordHandler& onRecord,
                    RecordWalk* walk);

// Before a message of the command's own: takes the progress line away and
// lets standard output catch up, so the lines come in order.
void BeforeMessage(RecordWalk* walk);

}  // namespace tool
