#include "capture_writer.h"

#include "capture_format.h"

namespace capture {

namespace {

// How many whole records the first size bytes of records hold, and where
// the last of them ends.
uint64_t WholeRecordsIn(const uint8_t* records, size_t size, size_t* end) {
  uint64_t count = 0;
  size_t at = 0;
  while (at + kRecordHeaderSize <= size) {
    const size_t next = at + RecordSize(RecordFrameLength(records + at));
    if (next > size) break;
    at = next;
    ++count;
  }
  *end = at;
  return count;
}

}  // namespace

platform::RecordingOpen OpenCaptureFile(CaptureFile& file, const std::string& name, std::string* error) {
  file.name = name;
  file.wholeBytes = 0;
  file.records = 0;
  file.failed = false;
  const platform::RecordingOpen outcome = platform::OpenFileForRecording(name, &file.handle, error);
  if (outcome != platform::RecordingOpen::kOpened) {
    file.handle = platform::kNoFile;
    file.failed = true;
  }
  return outcome;
}

bool AppendCaptureRecords(CaptureFile& file, const uint8_t* records, size_t size, uint64_t count,
                          std::string* error) {
  if (file.failed) {
    *error = "the file is not open for writing";
    return false;
  }
  size_t written = 0;
  if (platform::WriteToFile(file.handle, records, size, &written, error)) {
    file.records += count;
    file.wholeBytes += static_cast<int64_t>(size);
    return true;
  }
  file.failed = true;
  size_t whole = 0;
  file.records += WholeRecordsIn(records, written, &whole);
  file.wholeBytes += static_cast<int64_t>(whole);
  // Cut back whatever the count says: a write that failed may still have
  // left part of its bytes in the file (on Windows a full disk reports
  // none of them written).
  std::string cutError;
  if (!platform::TruncateOpenFile(file.handle, static_cast<uint64_t>(file.wholeBytes.load()), &cutError)) {
    *error += "\nCould not cut " + file.name + " back to its last complete record (" +
              std::to_string(file.wholeBytes.load()) + " bytes): " + cutError;
  }
  return false;
}

int64_t CaptureFilePosition(const CaptureFile& file) {
  return file.wholeBytes;
}

void CloseCaptureFile(CaptureFile& file) {
  platform::CloseFile(file.handle);
  file.handle = platform::kNoFile;
}

}  // namespace capture
