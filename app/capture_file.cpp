#include "capture_file.h"

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "platform.h"

namespace {

// Held by every append and, at the end, by the interrupt's thread, which
// never releases it. Never destroyed, so it stays valid while exiting.
std::mutex& CaptureWriteLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::string LastSystemError() {
  const int error = errno;
  return error != 0 ? platform::ErrorText(error) : "unknown error";
}

}  // namespace

bool OpenCaptureFile(std::ofstream& stream, const std::string& name, std::string* error) {
  errno = 0;
  stream.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!stream.is_open()) {
    *error = LastSystemError();
    stream.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

bool AppendCaptureRecord(std::ofstream& stream, const uint8_t* frame, uint16_t n, std::string* error) {
  const char length[2] = {static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)};
  const char* bytes = reinterpret_cast<const char*>(frame);
  const std::streamsize rest = n - 2;
  std::lock_guard<std::mutex> guard(CaptureWriteLock());
  errno = 0;
  // Straight to the file buffer: for short frames the stream's checks on
  // every write cost more than the bytes. The buffer still hands the record
  // to the system in one call, at the latest at the sync.
  std::filebuf* file = stream.rdbuf();
  const bool written = stream.good() && file->sputn(bytes, 2) == 2 && file->sputn(length, 2) == 2 &&
                       file->sputn(bytes + 2, rest) == rest && file->pubsync() == 0;
  if (!written) {
    *error = LastSystemError();
    stream.setstate(std::ios::badbit);
    return false;
  }
  return true;
}

int64_t CaptureFilePosition(std::ofstream& stream) {
  return static_cast<int64_t>(stream.tellp());
}

void CloseCaptureFile(std::ofstream& stream) {
  if (stream.is_open()) stream.close();
}

bool CutCaptureFile(std::ofstream& stream, const std::string& name, int64_t size, std::string* error) {
  std::lock_guard<std::mutex> guard(CaptureWriteLock());
  // Close first: a close flushes what the stream still holds, which must not
  // land after the cut.
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
  CaptureWriteLock().lock();
}
