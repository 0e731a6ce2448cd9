#include "capture_file.h"

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "capture_format.h"
#include "platform.h"

namespace {

// A frame is read in after the headroom, where its record then forms in
// place and leaves in one write.
constexpr size_t kRecordBufferSize = capture::kFrameHeadroom + capture::kMaxFrameLength;

// Held by every append, for as long as the file may hold part of its record,
// and, at the end, by the stop request's handler, which never releases it.
// Never destroyed, so it stays valid while the process exits.
std::mutex& WriteLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

std::string LastSystemError() {
  const int error = errno;
  return error != 0 ? platform::ErrorText(error) : "unknown error";
}

// After a failed write: closes the stream, so that nothing more can land,
// and cuts the file back to its last whole record, so that it stays
// walkable. Called with the write lock held.
bool CutBack(CaptureFile& file, std::string* error) {
  file.stream.close();
  std::error_code code;
  const std::filesystem::path path(file.name);
  if (!std::filesystem::is_regular_file(path, code)) return true;  // e.g. a device: nothing to cut
  const auto current = std::filesystem::file_size(path, code);
  if (!code && current <= static_cast<uintmax_t>(file.wholeBytes)) return true;
  std::filesystem::resize_file(path, static_cast<uintmax_t>(file.wholeBytes), code);
  if (code) {
    *error = code.message();
    return false;
  }
  return true;
}

}  // namespace

bool OpenCaptureFile(CaptureFile& file, const std::string& name, std::string* error) {
  file.name = name;
  file.wholeBytes = 0;
  file.recordBuffer.assign(kRecordBufferSize, 0);  // also when the open fails: appends then say so
  // Unbuffered: each record is handed to the system by one write straight
  // from the record buffer, and nothing is ever left behind in a buffer.
  file.stream.rdbuf()->pubsetbuf(nullptr, 0);
  errno = 0;
  file.stream.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file.stream.is_open()) {
    *error = LastSystemError();
    file.stream.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

uint8_t* CaptureFrameBuffer(CaptureFile& file) {
  return file.recordBuffer.data() + capture::kFrameHeadroom;
}

AppendOutcome AppendCaptureRecord(CaptureFile& file, uint16_t n, std::string* error) {
  if (n < capture::kMinFrameLength) return AppendOutcome::kTooShort;
  if (file.recordBuffer.size() != kRecordBufferSize) {
    *error = "the file was never opened";
    return AppendOutcome::kFailed;
  }
  uint8_t* const record = file.recordBuffer.data();
  capture::MakeRecordInPlace(record, n);
  const auto size = static_cast<std::streamsize>(capture::RecordSize(n));

  std::lock_guard<std::mutex> guard(WriteLock());
  if (!file.stream.good()) {
    *error = "the file is not open for writing";
    return AppendOutcome::kFailed;
  }
  errno = 0;
  std::filebuf* buffer = file.stream.rdbuf();
  if (buffer->sputn(reinterpret_cast<const char*>(record), size) == size && buffer->pubsync() == 0) {
    file.wholeBytes += size;
    return AppendOutcome::kStored;
  }
  *error = LastSystemError();
  file.stream.setstate(std::ios::badbit);
  std::string cutError;
  if (!CutBack(file, &cutError)) {
    *error += "\nCould not cut " + file.name + " back to its last complete record (" +
              std::to_string(file.wholeBytes) + " bytes): " + cutError;
  }
  return AppendOutcome::kFailed;
}

int64_t CaptureFilePosition(CaptureFile& file) {
  return static_cast<int64_t>(file.stream.tellp());
}

void CloseCaptureFile(CaptureFile& file) {
  if (file.stream.is_open()) file.stream.close();
}

void FreezeCaptureWrites() {
  WriteLock().lock();
}
