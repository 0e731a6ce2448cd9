// The capture buffer: between the receive loop and the capture file, so that
// the loop, which must keep the bridge drained, never waits on the disk.
//
// The bridge holds at most 65535 pending bytes: 16 ms at 4 MB/s, about a
// millisecond at the USB ceiling. A write that blocks longer (writeback, a
// journal commit, a card collecting garbage, a network drive) would cost
// frames at the bridge. So the loop reads each frame straight into this
// buffer, where it becomes its record, and hands it over; a writer thread of
// its own takes what was handed over and appends it to the file. When the
// writer is idle a record goes out at once; records that queued up behind a
// slow write go out together, in order, in whole records.
//
// The buffer grows in chunks while the disk falls behind, up to
// kCaptureBufferCapacity (more than a second at the USB ceiling), and gives
// them back to the system as it drains, so a run whose disk keeps up stays
// small. Only when it is full does the loop wait, for room.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_writer.h"

constexpr size_t kCaptureBufferChunk = 256 * 1024;
constexpr size_t kCaptureBufferCapacity = 64 * 1024 * 1024;

// A piece of the buffer: records back to back in data[written, end) wait for
// the writer; the loop appends past end.
struct CaptureChunk {
  uint8_t* data = nullptr;
  size_t end = 0;
  size_t written = 0;
  uint64_t records = 0;         // handed over into this chunk
  uint64_t recordsWritten = 0;  // of those, written
};

// Times the buffer was full, from the first wait for room until it has
// drained to half: the loop reports each such episode once.
struct FullBufferEpisode {
  bool active = false;
  bool over = false;  // ended, not yet reported
  std::chrono::steady_clock::duration waited{};
  size_t heldBytes = 0;  // the most held while waiting
};

enum class LoopWait {
  kNone,
  kForWriter,  // well ahead of a writer that is making progress
  kForRoom,    // the buffer is full
};

struct CaptureBuffer {
  capture::CaptureFile* file = nullptr;
  std::thread writer;
  std::mutex lock;
  std::condition_variable writerWake;  // records handed over, or the end
  std::condition_variable loopWake;    // room, a stop request, or a failed write
  // Oldest first. The writer writes the front; the loop appends to the back
  // (tail), which only the loop replaces.
  std::deque<CaptureChunk> chunks;
  CaptureChunk* tail = nullptr;
  std::vector<uint8_t*> spares;                            // drained chunks kept for reuse
  std::chrono::steady_clock::time_point gaveBackAt{};      // spares last went back to the system
  size_t heldBytes = 0;                                    // handed over, not yet written
  uint64_t handedOver = 0;                                 // records
  std::chrono::steady_clock::time_point writerProgress{};  // the writer began or ended a write
  bool writerWaiting = false;
  LoopWait loopWait = LoopWait::kNone;
  bool stopping = false;   // a stop request: the loop waits for room no longer
  bool finishing = false;  // the loop is done: write what is held, then end
  std::chrono::steady_clock::time_point finishBy = std::chrono::steady_clock::time_point::max();
  std::atomic<bool> failed{false};  // a write failed; error says why
  std::string error;
  FullBufferEpisode full;  // the loop's own
};

// Starts the writer thread for file, which must stay open until
// FinishCaptureWriter has returned.
void StartCaptureWriter(CaptureBuffer& buffer, capture::CaptureFile& file);

// Where the loop reads the next frame, of n bytes: room for its record, two
// bytes in. Waits for room while the buffer is full. Null when a stop request
// or a failed write ended that wait, or no memory could be had.
uint8_t* CaptureFrameBuffer(CaptureBuffer& buffer, uint16_t n);

enum class AppendOutcome {
  kStored,    // handed over to the writer
  kTooShort,  // a 1-byte frame: a record needs the first two; nothing kept
};

// Makes the n-byte frame read at CaptureFrameBuffer(buffer, n) into its record
// and hands it over to the writer.
AppendOutcome AppendCaptureRecord(CaptureBuffer& buffer, uint16_t n);

// For the stop request's handler: the loop no longer waits for room.
void StopWaitingForRoom(CaptureBuffer& buffer);

// True once a write has failed; the writer has stopped.
bool CaptureWriteFailed(const CaptureBuffer& buffer);

struct CaptureWriterEnd {
  bool failed = false;
  std::string error;       // why, when failed
  uint64_t notStored = 0;  // records handed over that are not in the file
};

// Lets the writer write out what is held, stopping at finishBy (between two
// writes, so on a record boundary), and waits for it to end. The loop may
// still be reading into the buffer meanwhile, so its memory stays.
CaptureWriterEnd FinishCaptureWriter(CaptureBuffer& buffer, std::chrono::steady_clock::time_point finishBy);

// Gives the buffer's memory back, once the loop and the writer are done.
void FreeCaptureBuffer(CaptureBuffer& buffer);
