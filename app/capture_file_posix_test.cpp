// A write cut short by the system (here the file size limit) leaves part of a
// record in the file; the interrupt's exit must not end the process before
// that part is cut off again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "capture_file.h"

namespace {

namespace fs = std::filesystem;

// Runs in a forked child: appends 100-byte records under a 250-byte file size
// limit, so the third one is written in part, then lets an exiting thread race
// the cut. Exits 0 when that thread found the file on a record boundary.
void RaceExitAgainstCut(const std::string& path) {
  signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
  rlimit limit{250, 250};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
  std::ofstream stream;
  std::string error;
  if (!OpenCaptureFile(stream, path, &error)) _exit(2);
  std::vector<uint8_t> buffer(kRecordBufferSize, 'J');
  int64_t stored = 0;
  while (AppendCaptureRecordInPlace(stream, buffer.data(), 98, &error)) stored += 100;
  if (fs::file_size(path) == static_cast<uintmax_t>(stored)) _exit(2);  // nothing torn to race
  std::thread exiting([&path, stored] {
    FreezeCaptureWrites();
    _exit(fs::file_size(path) == static_cast<uintmax_t>(stored) ? 0 : 1);
  });
  // Gives the exiting thread every chance to get in before the cut.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  CutCaptureFile(stream, path, stored, &error);
  exiting.join();
  _exit(3);
}

TEST(CaptureFilePosixTest, AnExitWaitsForAFailedAppendToBeCutBack) {
  const fs::path path = fs::temp_directory_path() / ("capture_cut_race_" + std::to_string(getpid()) + ".bin");
  EXPECT_EXIT(RaceExitAgainstCut(path.string()), ::testing::ExitedWithCode(0), "");
  fs::remove(path);
}

}  // namespace
