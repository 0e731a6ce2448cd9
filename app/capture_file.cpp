#include "capture_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform.h"

namespace {

// Held by every append and, at the end, by the interrupt's thread, which
// never releases it. A failed append that may have left part of its record
// behind keeps holding it until CutCaptureFile has cut that part off, so the
// interrupt's exit cannot come in between. Never destroyed, so it stays valid
// while exiting.
struct CaptureWriteLock {
  std::mutex mutex;
  std::unique_lock<std::mutex> heldForCut;  // owned by a failed append until the cut
};

CaptureWriteLock& WriteLock() {
  static auto* lock = new CaptureWriteLock;
  return *lock;
}

std::string LastSystemError() {
  const int error = errno;
  return error != 0 ? platform::ErrorText(error) : "unknown error";
}

}  // namespace

bool OpenCaptureFile(std::ofstream& stream, const std::string& name, std::string* error) {
  // Unbuffered: each record is handed to the system by one write straight
  // from the caller's memory, and nothing is ever left behind in a buffer.
  stream.rdbuf()->pubsetbuf(nullptr, 0);
  errno = 0;
  stream.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!stream.is_open()) {
    *error = LastSystemError();
    stream.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

bool AppendCaptureRecordInPlace(std::ofstream& stream, uint8_t* recordBuffer, uint16_t n,
                                std::string* error) {
  // The frame stands at recordBuffer + kFrameOffset: its first two bytes move
  // down and the length takes their place, so the record is contiguous.
  recordBuffer[0] = recordBuffer[kFrameOffset];
  recordBuffer[1] = recordBuffer[kFrameOffset + 1];
  recordBuffer[2] = static_cast<uint8_t>(n & 0xFF);
  recordBuffer[3] = static_cast<uint8_t>(n >> 8);
  const std::streamsize size = static_cast<std::streamsize>(n) + 2;
  CaptureWriteLock& lock = WriteLock();
  if (lock.heldForCut.owns_lock()) {  // this thread's own failed append, not yet cut back
    *error = "the file was not cut back after a failed write";
    return false;
  }
  std::unique_lock<std::mutex> guard(lock.mutex);
  if (!stream.good()) {
    *error = "the file is not open for writing";
    return false;
  }
  errno = 0;
  std::filebuf* file = stream.rdbuf();
  const bool written =
      file->sputn(reinterpret_cast<const char*>(recordBuffer), size) == size && file->pubsync() == 0;
  if (!written) {
    *error = LastSystemError();
    stream.setstate(std::ios::badbit);
    lock.heldForCut = std::move(guard);
    return false;
  }
  return true;
}

bool AppendCaptureRecord(std::ofstream& stream, const uint8_t* frame, uint16_t n, std::string* error) {
  std::vector<uint8_t> record(kFrameOffset + n);
  std::memcpy(record.data() + kFrameOffset, frame, n);
  return AppendCaptureRecordInPlace(stream, record.data(), n, error);
}

int64_t CaptureFilePosition(std::ofstream& stream) {
  return static_cast<int64_t>(stream.tellp());
}

void CloseCaptureFile(std::ofstream& stream) {
  if (stream.is_open()) stream.close();
}

bool CutCaptureFile(std::ofstream& stream, const std::string& name, int64_t size, std::string* error) {
  CaptureWriteLock& lock = WriteLock();
  // After a failed append this thread holds the lock already.
  std::unique_lock<std::mutex> guard =
      lock.heldForCut.owns_lock() ? std::move(lock.heldForCut) : std::unique_lock<std::mutex>(lock.mutex);
  // Closed first, so that nothing more can land after the cut.
  CloseCaptureFile(stream);
  std::error_code code;
  const std::filesystem::path path(name);
  if (!std::filesystem::is_regular_file(path, code)) return true;  // e.g. a device: nothing to cut
  const auto current = std::filesystem::file_size(path, code);
  if (!code && current <= static_cast<uintmax_t>(size)) return true;
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size), code);
  if (code) {
    *error = code.message();
    return false;
  }
  return true;
}

void FreezeCaptureWrites() {
  WriteLock().mutex.lock();
}
