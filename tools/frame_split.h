// Splitting records back into the master's frames (--frame-size N). When the
// bridge coalesces several frames into one read, a record holds several
// frames: a record whose frame length is a multiple of N holds length / N
// frames of N bytes. When the bridge's buffer was full, a read ends inside a
// frame: its record holds whole frames and then a fragment, the head of a
// frame whose rest was lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_reader.h"
#include "tool_args.h"

namespace tool {

struct FrameSplit {
  size_t count = 1;     // whole frames in the record
  size_t size = 0;      // bytes per frame
  bool whole = false;   // SplitRecord: not a multiple of the frame size, kept whole
  size_t fragment = 0;  // SplitFrames: bytes after the whole frames (the head of a cut frame)
};

// The record's whole frames of frameSize bytes and the fragment after them;
// they start at i * size, the fragment at count * size. frameSize 0: no
// splitting, one frame per record.
FrameSplit SplitFrames(size_t frameLength, size_t frameSize);

// As SplitFrames, but a record that is not a multiple of the frame size is
// kept whole: one frame of its length, with whole set.
FrameSplit SplitRecord(size_t frameLength, size_t frameSize);

// Reads --frame-size into *frameSize (0 when not given). On a bad value,
// says so and returns false; the caller exits with kExitUsage.
bool FrameSizeOption(const ParsedArgs& args, const char* command, size_t* frameSize);

// Reports a record that is not a multiple of the frame size, on standard
// error, in the usual "FILE: offset N (record I): reason" form.
void ReportWholeRecord(const std::string& name, const capture::CaptureRecordView& record, size_t frameSize);

}  // namespace tool
