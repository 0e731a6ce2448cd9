#include "capture_buffer.h"

#include <algorithm>

#include "capture_format.h"
#include "platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxChunks = kCaptureBufferCapacity / kCaptureBufferChunk;
// Drained chunks are kept for reuse, so that a buffer that cycles costs no
// fresh pages. Whenever the writer has caught up, all but kSpareChunks go
// back to the system, at most once per kGiveBackEvery: after a stall the
// memory returns soon, and a loop that keeps filling a few chunks ahead does
// not pay for pages over and over.
constexpr size_t kSpareChunks = 2;
constexpr auto kGiveBackEvery = std::chrono::seconds(1);

// How far the loop runs ahead of a writer that keeps making progress, and
// how long a write may take before the disk counts as stalled. Waiting that
// long costs nothing: the bridge holds 64 KiB, more than a millisecond at
// the USB ceiling.
constexpr size_t kCloseBytes = 8 * kCaptureBufferChunk;
constexpr auto kWriterStuckAfter = std::chrono::microseconds(500);

static_assert(kCaptureBufferChunk >= 2 * capture::kMaxRecordSize, "a chunk holds at least two of any record");

// A chunk for the tail, from the spares or the system; null without memory.
uint8_t* TakeChunkMemory(CaptureBuffer& buffer) {
  if (!buffer.spares.empty()) {
    uint8_t* const data = buffer.spares.back();
    buffer.spares.pop_back();
    return data;
  }
  return static_cast<uint8_t*>(platform::AllocatePages(kCaptureBufferChunk));
}

// The spares beyond kSpareChunks, taken out of the buffer to be given back
// without the lock held.
std::vector<uint8_t*> TakeExcessSpares(CaptureBuffer& buffer) {
  if (buffer.spares.size() <= kSpareChunks) return {};
  const auto keep = buffer.spares.end() - static_cast<std::ptrdiff_t>(kSpareChunks);  // the latest used
  std::vector<uint8_t*> excess(buffer.spares.begin(), keep);
  buffer.spares.erase(buffer.spares.begin(), keep);
  return excess;
}

// A new, empty tail; false when the buffer is full or no memory is left.
bool AddTail(CaptureBuffer& buffer) {
  if (buffer.chunks.size() >= kMaxChunks) return false;
  uint8_t* const data = TakeChunkMemory(buffer);
  if (data == nullptr) return false;
  buffer.chunks.push_back(CaptureChunk{data});
  buffer.tail = &buffer.chunks.back();
  return true;
}

bool TailHasRoom(const CaptureBuffer& buffer, size_t size) {
  return buffer.tail != nullptr && kCaptureBufferChunk - buffer.tail->end >= size;
}

// The writer thread: writes what was handed over, front chunk first, each
// chunk's waiting records in one write, and gives drained chunks back
// once it has caught up.
void WriteHeldRecords(CaptureBuffer* buffer) {
  std::unique_lock<std::mutex> lock(buffer->lock);
  for (;;) {
    CaptureChunk& front = buffer->chunks.front();
    if (front.written == front.end) {
      if (&front != buffer->tail) {
        buffer->spares.push_back(front.data);
        buffer->chunks.pop_front();
        continue;
      }
      const bool excessSpares = buffer->spares.size() > kSpareChunks;
      const Clock::time_point giveBackAt = buffer->gaveBackAt + kGiveBackEvery;
      if (excessSpares && Clock::now() >= giveBackAt) {
        const std::vector<uint8_t*> excess = TakeExcessSpares(*buffer);
        buffer->gaveBackAt = Clock::now();
        lock.unlock();
        for (uint8_t* data : excess) platform::FreePages(data, kCaptureBufferChunk);
        lock.lock();
        continue;
      }
      if (buffer->finishing) return;
      buffer->writerWaiting = true;
      if (excessSpares) {
        buffer->writerWake.wait_until(lock, giveBackAt);
      } else {
        buffer->writerWake.wait(lock);
      }
      buffer->writerWaiting = false;
      continue;
    }
    if (buffer->finishing && Clock::now() >= buffer->finishBy) return;
    const uint8_t* const records = front.data + front.written;
    const size_t size = front.end - front.written;
    const uint64_t count = front.records - front.recordsWritten;
    buffer->writerProgress = Clock::now();
    lock.unlock();
    std::string error;
    const bool written = capture::AppendCaptureRecords(*buffer->file, records, size, count, &error);
    lock.lock();
    buffer->writerProgress = Clock::now();
    if (!written) {
      buffer->failed = true;
      buffer->error = error;
      buffer->loopWake.notify_one();
      return;
    }
    // The loop only ever appends to the back: front is still this chunk.
    front.written += size;
    front.recordsWritten += count;
    buffer->heldBytes -= size;
    // A loop that waits for room gets it now; one that waits for the writer
    // to come closer is woken once the writer has caught up by half, not for
    // every write.
    if (buffer->loopWait == LoopWait::kForRoom ||
        (buffer->loopWait == LoopWait::kForWriter && buffer->heldBytes <= kCloseBytes / 2)) {
      buffer->loopWake.notify_one();
    }
  }
}

// The tail, once the writer has written all of it, starts again from its
// beginning (a chunk holds any record).
bool ReuseDrainedTail(CaptureBuffer& buffer) {
  if (buffer.tail == nullptr) return false;
  CaptureChunk& tail = *buffer.tail;
  if (tail.written != tail.end || &tail != &buffer.chunks.front()) return false;
  tail = CaptureChunk{tail.data};
  return true;
}

// Whether the loop had better wait a moment for the writer than take more
// memory: it is well ahead, and the writer is making progress (it began or
// ended a write within kWriterStuckAfter). A stalled disk shows as a write
// that takes longer; then the buffer grows. So while the disk keeps up the
// loop stays close behind the writer, and what it writes is still in cache.
bool KeepCloseToTheWriter(const CaptureBuffer& buffer, Clock::time_point now) {
  return buffer.heldBytes >= kCloseBytes && now - buffer.writerProgress < kWriterStuckAfter;
}

// Room in the tail for any record: waits while the buffer is full (or no
// more memory can be had), as long as no stop request or failed write ends
// the wait; and waits for a working writer rather than run far ahead of it.
// Called with the lock held.
bool MakeRoom(CaptureBuffer& buffer, std::unique_lock<std::mutex>& lock) {
  Clock::time_point fullSince{};
  bool room = false;
  while (!buffer.failed && !(room = ReuseDrainedTail(buffer)) && !buffer.stopping) {
    const Clock::time_point now = Clock::now();
    if (KeepCloseToTheWriter(buffer, now)) {
      buffer.loopWait = LoopWait::kForWriter;
      buffer.loopWake.wait_until(lock, buffer.writerProgress + kWriterStuckAfter);
    } else if ((room = AddTail(buffer))) {
      break;
    } else {
      if (fullSince == Clock::time_point{}) fullSince = now;
      buffer.full.active = true;
      buffer.full.heldBytes = std::max(buffer.full.heldBytes, buffer.heldBytes);
      buffer.loopWait = LoopWait::kForRoom;
      buffer.loopWake.wait(lock);
    }
    buffer.loopWait = LoopWait::kNone;
  }
  if (fullSince != Clock::time_point{}) buffer.full.waited += Clock::now() - fullSince;
  return room;
}

}  // namespace

void StartCaptureWriter(CaptureBuffer& buffer, capture::CaptureFile& file) {
  buffer.file = &file;
  {
    std::lock_guard<std::mutex> guard(buffer.lock);
    if (!AddTail(buffer)) {
      buffer.failed = true;
      buffer.error = "no memory for the capture buffer";
    }
  }
  if (!buffer.failed) buffer.writer = std::thread(WriteHeldRecords, &buffer);
}

uint8_t* CaptureFrameBuffer(CaptureBuffer& buffer, uint16_t n) {
  // Only the loop moves the tail's end, so it may look without the lock.
  if (!TailHasRoom(buffer, capture::RecordSize(n))) {
    std::unique_lock<std::mutex> lock(buffer.lock);
    if (!MakeRoom(buffer, lock)) return nullptr;
  }
  return buffer.tail->data + buffer.tail->end + capture::kFrameHeadroom;
}

AppendOutcome AppendCaptureRecord(CaptureBuffer& buffer, uint16_t n) {
  if (n < capture::kMinFrameLength) return AppendOutcome::kTooShort;
  CaptureChunk& tail = *buffer.tail;
  capture::MakeRecordInPlace(tail.data + tail.end, n);
  const size_t size = capture::RecordSize(n);
  bool wakeWriter = false;
  {
    std::lock_guard<std::mutex> guard(buffer.lock);
    tail.end += size;
    ++tail.records;
    ++buffer.handedOver;
    buffer.heldBytes += size;
    wakeWriter = buffer.writerWaiting;
    if (buffer.full.active && buffer.heldBytes <= kCaptureBufferCapacity / 2) {
      buffer.full.active = false;
      buffer.full.over = true;
    }
  }
  if (wakeWriter) buffer.writerWake.notify_one();
  return AppendOutcome::kStored;
}

void StopWaitingForRoom(CaptureBuffer& buffer) {
  {
    std::lock_guard<std::mutex> guard(buffer.lock);
    buffer.stopping = true;
  }
  buffer.loopWake.notify_one();
}

bool CaptureWriteFailed(const CaptureBuffer& buffer) {
  return buffer.failed;
}

CaptureWriterEnd FinishCaptureWriter(CaptureBuffer& buffer, Clock::time_point finishBy) {
  {
    std::lock_guard<std::mutex> guard(buffer.lock);
    buffer.finishing = true;
    buffer.finishBy = finishBy;
  }
  buffer.writerWake.notify_one();
  if (buffer.writer.joinable()) buffer.writer.join();
  // The loop may still hand records over (a stop request ending the run
  // while it was in a bridge call): those were never to be written.
  std::lock_guard<std::mutex> guard(buffer.lock);
  CaptureWriterEnd end;
  end.failed = buffer.failed;
  end.error = buffer.error;
  end.notStored = buffer.handedOver - buffer.file->records;
  return end;
}

void FreeCaptureBuffer(CaptureBuffer& buffer) {
  for (const CaptureChunk& chunk : buffer.chunks) platform::FreePages(chunk.data, kCaptureBufferChunk);
  for (uint8_t* spare : buffer.spares) platform::FreePages(spare, kCaptureBufferChunk);
  buffer.chunks.clear();
  buffer.spares.clear();
  buffer.tail = nullptr;
}
