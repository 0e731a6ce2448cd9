#include "capture_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "capture_encoder.h"
#include "capture_reader.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
int MakePipe(int* fds) {
  return _pipe(fds, 65536, _O_BINARY);
}
int ReadPipe(int fd, uint8_t* bytes, unsigned size) {
  return _read(fd, bytes, size);
}
void ClosePipe(int fd) {
  _close(fd);
}
#else
int MakePipe(int* fds) {
  return pipe(fds);
}
int ReadPipe(int fd, uint8_t* bytes, unsigned size) {
  return static_cast<int>(read(fd, bytes, size));
}
void ClosePipe(int fd) {
  close(fd);
}
#endif

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A frame as the loop reads it: 'J', its number, then bytes that depend on it.
void MakeFrame(uint32_t number, uint16_t n, uint8_t* frame) {
  frame[0] = 'J';
  for (size_t i = 1; i < n; ++i) frame[i] = static_cast<uint8_t>(number >> (8 * ((i - 1) % 4)));
}

// Does as the receive loop does with an n-byte frame; false when the buffer
// said to stop.
bool HandOver(CaptureBuffer& buffer, uint32_t number, uint16_t n) {
  uint8_t* const frame = CaptureFrameBuffer(buffer, n);
  if (frame == nullptr) return false;
  MakeFrame(number, n, frame);
  return AppendCaptureRecord(buffer, n) == AppendOutcome::kStored;
}

// The records of frames 0..count-1, as the file must hold them.
Bytes RecordsOf(uint32_t count, uint16_t n) {
  Bytes records;
  Bytes frame(n);
  std::string error;
  for (uint32_t number = 0; number < count; ++number) {
    MakeFrame(number, n, frame.data());
    EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), n, &records, &error)) << error;
  }
  return records;
}

// Whether the loop waits for room with the buffer full, but for a chunk's
// end that may not fit a record.
bool LoopWaitsOnAFullBuffer(CaptureBuffer& buffer) {
  std::lock_guard<std::mutex> guard(buffer.lock);
  return buffer.loopWait == LoopWait::kForRoom && buffer.heldBytes > kCaptureBufferCapacity / 10 * 9;
}

// A pipe in place of the disk: nothing is written while nobody reads it.
struct StalledDisk {
  int fds[2] = {-1, -1};
  Bytes received;
  std::thread reader;

  StalledDisk() { EXPECT_EQ(MakePipe(fds), 0); }
  void Resume() {
    reader = std::thread([this] {
      uint8_t bytes[65536];
      int n = 0;
      while ((n = ReadPipe(fds[0], bytes, sizeof bytes)) > 0)
        received.insert(received.end(), bytes, bytes + n);
    });
  }
  ~StalledDisk() {
    if (reader.joinable()) reader.join();
    if (fds[0] >= 0) ClosePipe(fds[0]);
  }
};

TEST(CaptureBuffer, RecordsFormInPlaceAndReachTheFileWholeAndInOrder) {
  const fs::path path = fs::temp_directory_path() /
                        ("capture_buffer_test_" + std::to_string(Clock::now().time_since_epoch().count()));
  capture::CaptureFile file;
  std::string error;
  ASSERT_EQ(capture::OpenCaptureFile(file, path.string(), &error), platform::RecordingOpen::kOpened) << error;
  CaptureBuffer buffer;
  StartCaptureWriter(buffer, file);
  // Sizes that leave every kind of rest at a chunk's end, and a 1-byte frame,
  // which has no second byte for its record and is refused.
  const std::vector<uint16_t> lengths = {2, 300, 65535, 1, 13, 4096, 65535, 65535, 65535, 2};
  Bytes expected;
  uint32_t number = 0;
  for (int round = 0; round < 40; ++round) {
    for (uint16_t n : lengths) {
      uint8_t* const frame = CaptureFrameBuffer(buffer, n);
      ASSERT_NE(frame, nullptr);
      MakeFrame(number, n, frame);
      const AppendOutcome outcome = AppendCaptureRecord(buffer, n);
      ASSERT_EQ(outcome, n == 1 ? AppendOutcome::kTooShort : AppendOutcome::kStored);
      if (n == 1) continue;
      Bytes bytes(n);
      MakeFrame(number++, n, bytes.data());
      ASSERT_TRUE(capture::EncodeCaptureRecord(bytes.data(), n, &expected, &error));
    }
  }
  const CaptureWriterEnd end = FinishCaptureWriter(buffer, Clock::time_point::max());
  FreeCaptureBuffer(buffer);
  EXPECT_FALSE(end.failed) << end.error;
  EXPECT_EQ(end.notStored, 0u);
  capture::CloseCaptureFile(file);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), expected);
  in.close();
  fs::remove(path);
}

// A disk that stops taking data: the buffer holds what the loop hands over
// until it is full, then the loop waits. When the disk comes back nothing is
// lost and the loop reports the episode; when a stop request comes instead,
// the loop stops waiting and everything handed over is still written.
TEST(CaptureBuffer, AStalledDiskFillsTheBufferWithoutLosingARecord) {
  constexpr uint16_t kFrame = 4096;
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop request while full" : "disk comes back");
    StalledDisk disk;
    capture::CaptureFile file;
    file.handle = disk.fds[1];
    CaptureBuffer buffer;
    StartCaptureWriter(buffer, file);
    uint32_t handedOver = 0;
    std::thread loop([&] {
      const uint32_t total = 2 * kCaptureBufferCapacity / kFrame;
      while (handedOver < total && HandOver(buffer, handedOver, kFrame)) ++handedOver;
    });
    while (!LoopWaitsOnAFullBuffer(buffer)) std::this_thread::yield();
    if (stop) StopWaitingForRoom(buffer);
    disk.Resume();
    loop.join();
    const CaptureWriterEnd end = FinishCaptureWriter(buffer, Clock::time_point::max());
    FreeCaptureBuffer(buffer);
    capture::CloseCaptureFile(file);
    disk.reader.join();
    EXPECT_FALSE(end.failed) << end.error;
    EXPECT_EQ(file.records, handedOver);
    EXPECT_TRUE(disk.received == RecordsOf(handedOver, kFrame));
    // The episode is there for the loop to report.
    EXPECT_TRUE(buffer.full.over || buffer.full.active);
    EXPECT_GT(buffer.full.waited.count(), 0);
    if (stop) {
      EXPECT_LT(handedOver, 2 * kCaptureBufferCapacity / kFrame);
    }
  }
}

// The disk fails while records wait for it: the writer stops, and the count
// of what could not be stored is exact.
TEST(CaptureBuffer, AFailedWriteCountsEveryRecordItCouldNotStore) {
  platform::TakeBrokenPipeAsError();
  StalledDisk disk;
  capture::CaptureFile file;
  file.handle = disk.fds[1];
  CaptureBuffer buffer;
  StartCaptureWriter(buffer, file);
  for (uint32_t number = 0; number < 100; ++number) ASSERT_TRUE(HandOver(buffer, number, 4096));
  ClosePipe(disk.fds[0]);  // the reader is gone before it read a byte
  disk.fds[0] = -1;
  const CaptureWriterEnd end = FinishCaptureWriter(buffer, Clock::time_point::max());
  FreeCaptureBuffer(buffer);
  capture::CloseCaptureFile(file);
  EXPECT_TRUE(end.failed);
  EXPECT_FALSE(end.error.empty());
  EXPECT_GT(end.notStored, 0u);
  EXPECT_EQ(end.notStored + file.records, 100u);
  EXPECT_TRUE(CaptureWriteFailed(buffer));
}

}  // namespace
