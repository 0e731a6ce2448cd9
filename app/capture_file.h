// The capture file: the receiver's only product, one record per stored 'J'
// frame (the record format: capture/capture_format.h).
//
// Each record is handed to the operating system as soon as it is appended,
// so another process reading the file sees every complete record at once.
// The writer keeps the file whole by itself: it knows where the last whole
// record ends, and an append that fails is cut back to there before anyone
// else may write or end the process (FreezeCaptureWrites).
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// The capture file of a run, owned by main: the stream and what the writer
// needs to keep the file whole.
struct CaptureFile {
  std::ofstream stream;
  std::string name;
  int64_t wholeBytes = 0;  // where the last whole record ends
  // The next record is built here: its frame is read in at an offset, so
  // that the record forms around it in place and leaves in one write.
  std::vector<uint8_t> recordBuffer;
};

// Creates the file, or empties an existing one, for binary writing. Other
// processes may open it for reading or writing meanwhile. On failure returns
// false with the system's reason in *error, and the stream stays failed.
bool OpenCaptureFile(CaptureFile& file, const std::string& name, std::string* error);

// Where the next frame is to be read: room for the largest frame, 65535
// bytes. AppendCaptureRecord stores the frame found there.
uint8_t* CaptureFrameBuffer(CaptureFile& file);

enum class AppendOutcome {
  kStored,    // the record is in the file
  kTooShort,  // a 1-byte frame: a record needs the first two; nothing written
  kFailed,    // the write failed: the file is closed and cut back to its last whole record
};

// Appends the record of the n-byte frame in CaptureFrameBuffer(file) and
// hands it to the operating system. On kFailed, *error holds the system's
// reason and, on a second line, why the file could not be cut back if it
// could not; every later append fails at once.
AppendOutcome AppendCaptureRecord(CaptureFile& file, uint16_t n, std::string* error);

// The put position: bytes written so far, or -1 when the stream has failed.
int64_t CaptureFilePosition(CaptureFile& file);

void CloseCaptureFile(CaptureFile& file);

// Waits for an append under way to finish (a failed one: to be cut back) and
// keeps any later one from starting, for good. The stop request's handler
// calls it before it ends the process.
void FreezeCaptureWrites();
