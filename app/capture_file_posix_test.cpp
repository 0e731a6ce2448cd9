// A write cut short by the system (here the file size limit) leaves part of a
// record in the file; the writer must cut it off again, and an exit that
// comes meanwhile must wait for that.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "capture_file.h"

namespace {

namespace fs = std::filesystem;

uintmax_t SizeOf(const std::string& path) {
  std::error_code code;
  const uintmax_t size = fs::file_size(path, code);
  return code ? 0 : size;
}

// Ends the child; it names the file after its own process, so it removes it.
[[noreturn]] void EndChild(const std::string& path, int status) {
  std::remove(path.c_str());
  _exit(status);
}

// Runs in a child process: appends 100-byte records under a 250-byte file size
// limit, so the third one is written in part and fails, while another thread
// takes the stop request's path the moment it sees part of a record (or once
// the appends are over). Exits 0 when that thread found exactly the two whole
// records and the writer reported the failure.
void AppendPastTheLimitWhileAnExitWaits(const std::string& path) {
  signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
  rlimit limit{250, 250};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) EndChild(path, 2);
  CaptureFile file;
  std::string error;
  if (!OpenCaptureFile(file, path, &error)) EndChild(path, 2);
  std::atomic<bool> appendsOver{false};
  std::thread exiting([&path, &appendsOver] {
    while (!appendsOver && SizeOf(path) % 100 == 0) {
    }
    FreezeCaptureWrites();
    EndChild(path, SizeOf(path) == 200 ? 0 : 1);
  });
  int stored = 0;
  AppendOutcome outcome;
  do {
    std::memset(CaptureFrameBuffer(file), 'J', 98);
    outcome = AppendCaptureRecord(file, 98, &error);
    stored += outcome == AppendOutcome::kStored;
  } while (outcome == AppendOutcome::kStored);
  if (stored != 2 || error.find("large") == std::string::npos) EndChild(path, 4);
  appendsOver = true;
  exiting.join();
  EndChild(path, 3);
}

TEST(CaptureFilePosixTest, AFailedAppendIsCutBackBeforeAnExitCanEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path path = fs::temp_directory_path() / ("capture_cut_race_" + std::to_string(getpid()) + ".bin");
  for (int round = 0; round < 20; ++round) {
    EXPECT_EXIT(AppendPastTheLimitWhileAnExitWaits(path.string()), ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
