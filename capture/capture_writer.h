// The capture file's writer: the one place where records enter a capture
// file, for the receiver and for the tests. Records go to the system through
// the file's own handle, whole records at a time, so that a reader of the
// file sees each record as soon as its write returns.
//
// The file stays walkable: the writer knows where its last whole record
// ends, and when a write fails (a full disk, an I/O error) it cuts the file
// back to there through the same handle, so a file renamed meanwhile is
// still the one cut, and it writes nothing more. While the file is open it
// is locked against a second recorder (platform::OpenFileForRecording).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform.h"

namespace capture {

struct CaptureFile {
  platform::FileHandle handle = platform::kNoFile;
  std::string name;
  // Where the last whole record ends: what the file holds. Written by the
  // thread that appends, read by any other (the status line).
  std::atomic<int64_t> wholeBytes{0};
  uint64_t records = 0;  // the records it holds
  bool failed = false;   // a write failed: nothing more is written
};

// Creates the file, or empties an existing one once it holds the
// recorder's lock. kInUse: another recorder has it, and it was left as it
// was. kFailed: the system's reason in *error.
platform::RecordingOpen OpenCaptureFile(CaptureFile& file, const std::string& name, std::string* error);

// Appends size bytes that are count whole records back to back
// (capture_format.h), in one write. On failure *error holds the system's
// reason (and, on a line of its own, why the file could not be cut back, if
// it could not), the file ends on its last whole record, file.records counts
// what it holds, and every later append fails at once.
bool AppendCaptureRecords(CaptureFile& file, const uint8_t* records, size_t size, uint64_t count,
                          std::string* error);

// What the file holds: the bytes of its whole records.
int64_t CaptureFilePosition(const CaptureFile& file);

void CloseCaptureFile(CaptureFile& file);

}  // namespace capture
