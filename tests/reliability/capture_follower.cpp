// capture_follower: another process at a live capture, as the concurrent
// reader test needs it.
//
//   capture_follower walk PATH SECONDS SEED MIN MAX    re-open and walk the file again and again
//   capture_follower follow PATH SECONDS SEED MIN MAX  keep one reader open and pick up new records
//   capture_follower write PATH MS                     hold the file open for writing, locked
//
// walk and follow check every record against the lockstep generator's frames
// (seed, lengths MIN-MAX) and accept only a clean end or a torn last record.
// Each prints one line of key=value figures and exits 0, or prints the fault
// and exits 1.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "capture_reader.h"
#include "decimal_number.h"
#include "frame_check.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// The generator's seed and frame lengths from SEED MIN MAX; false when one
// is not a number or the lengths are out of order.
bool ShapeFrom(char** argv, sim::FrameShape* shape) {
  uint64_t minLength = 0;
  uint64_t maxLength = 0;
  if (!common::ParseDecimal(argv[4], UINT64_MAX, &shape->seed) ||
      !common::ParseDecimal(argv[5], sim::kMaxFrameLength, &minLength) ||
      !common::ParseDecimal(argv[6], sim::kMaxFrameLength, &maxLength) || minLength > maxLength) {
    return false;
  }
  shape->minLength = static_cast<uint32_t>(minLength);
  shape->maxLength = static_cast<uint32_t>(maxLength);
  return true;
}

// One pass: everything up to the end a reader sees now. A torn last record
// is a record being written; any other damage is a fault.
bool WalkOnce(const std::string& path, const sim::FrameShape& shape, FrameStreamCheck* check, bool* torn,
              std::string* error) {
  capture::CaptureReader reader;
  if (!capture::OpenCaptureReader(path, &reader, error)) return false;
  flock(fileno(reader.file), LOCK_SH);  // as a viewer might; the receiver must not care
  InitFrameStreamCheck(shape, CaptureExpectation::kExactPrefix, check);
  const bool ok = CheckCaptureRecords(&reader, check, torn, error);
  capture::CloseCaptureReader(&reader);
  return ok;
}

int Walk(const std::string& path, double seconds, const sim::FrameShape& shape) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  uint64_t passes = 0, torn = 0, grew = 0, lastBytes = 0, records = 0;
  while (Clock::now() < end) {
    FrameStreamCheck check;
    bool tornTail = false;
    std::string error;
    if (!WalkOnce(path, shape, &check, &tornTail, &error)) {
      std::printf("walk pass %llu: %s\n", static_cast<unsigned long long>(passes), error.c_str());
      return 1;
    }
    if (check.fileBytes < lastBytes) {
      std::printf("walk pass %llu: the file shrank\n", static_cast<unsigned long long>(passes));
      return 1;
    }
    ++passes;
    torn += tornTail ? 1 : 0;
    grew += check.fileBytes > lastBytes ? 1 : 0;
    lastBytes = check.fileBytes;
    records = check.records;
  }
  std::printf("passes=%llu torn=%llu grew=%llu records=%llu bytes=%llu\n",
              static_cast<unsigned long long>(passes), static_cast<unsigned long long>(torn),
              static_cast<unsigned long long>(grew), static_cast<unsigned long long>(records),
              static_cast<unsigned long long>(lastBytes));
  return 0;
}

int Follow(const std::string& path, double seconds, const sim::FrameShape& shape) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    std::printf("follow: %s\n", error.c_str());
    return 1;
  }
  FrameStreamCheck check;
  InitFrameStreamCheck(shape, CaptureExpectation::kExactPrefix, &check);
  capture::CaptureRecord record;
  uint64_t waits = 0, torn = 0;
  while (Clock::now() < end) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecord(&reader, &record);
    if (outcome == capture::ReadOutcome::kRecord) {
      if (!CheckRecordFrame(&check, record.frame.data(), record.frame.size(), &error)) {
        std::printf("follow: %s\n", error.c_str());
        return 1;
      }
      continue;
    }
    if (outcome == capture::ReadOutcome::kDamage) {
      if (!capture::ResumeCaptureReader(&reader)) {
        std::printf("follow: %s\n", capture::FormatDamage(reader.damage).c_str());
        return 1;
      }
      ++torn;
    }
    ++waits;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  capture::CloseCaptureReader(&reader);
  std::printf("records=%llu bytes=%llu waits=%llu torn=%llu\n",
              static_cast<unsigned long long>(check.records),
              static_cast<unsigned long long>(check.fileBytes), static_cast<unsigned long long>(waits),
              static_cast<unsigned long long>(torn));
  return 0;
}

int HoldForWriting(const std::string& path, int ms) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) {
    std::printf("write: cannot open %s\n", path.c_str());
    return 1;
  }
  flock(fd, LOCK_EX);
  const int64_t before = FileSize(path);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  const int64_t after = FileSize(path);
  close(fd);
  std::printf("before=%lld after=%lld\n", static_cast<long long>(before), static_cast<long long>(after));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  double seconds = 0;
  sim::FrameShape shape;
  if ((mode == "walk" || mode == "follow") && argc == 7 &&
      common::ParseDecimalFraction(argv[3], 3600, &seconds) && ShapeFrom(argv, &shape)) {
    return mode == "walk" ? Walk(argv[2], seconds, shape) : Follow(argv[2], seconds, shape);
  }
  uint64_t ms = 0;
  if (mode == "write" && argc == 4 && common::ParseDecimal(argv[3], 3600 * 1000, &ms))
    return HoldForWriting(argv[2], static_cast<int>(ms));
  std::fprintf(stderr, "usage: capture_follower walk|follow PATH SECONDS SEED MIN MAX | write PATH MS\n");
  return 2;
}
