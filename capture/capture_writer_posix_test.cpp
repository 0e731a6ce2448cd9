// A write cut short by the system (here the file size limit) leaves part of a
// record in the file; the writer must cut it off again, in the file it has
// open, even when that file was renamed meanwhile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture_writer.h"

namespace {

namespace fs = std::filesystem;

// The child runs the test's body again under its own pid, so it leaves
// behind a folder of its own unless it removes it.
[[noreturn]] void ExitRemoving(const fs::path& dir, int status) {
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  _exit(status);
}

// Runs in a child process, which sets the limit for itself only: appends
// three 100-byte records in one write under a 250-byte file size limit, after
// the file was renamed and another file took its name. Exits 0 when the
// renamed file holds exactly the two whole records and the other one is
// untouched.
[[noreturn]] void AppendPastTheLimit(const fs::path& dir) {
  const std::string path = (dir / "capture.bin").string();
  const std::string moved = (dir / "moved.bin").string();
  signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
  rlimit limit{250, 250};
  capture::CaptureFile file;
  std::string error;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
      capture::OpenCaptureFile(file, path, &error) != platform::RecordingOpen::kOpened ||
      std::rename(path.c_str(), moved.c_str()) != 0) {
    ExitRemoving(dir, 2);
  }
  std::ofstream(path) << "another file";
  std::vector<uint8_t> records(300, 'x');
  for (size_t at = 0; at < 300; at += 100) {
    const uint8_t header[] = {'J', static_cast<uint8_t>(at), 98, 0};  // frames of 98 bytes
    std::copy(header, header + 4, records.begin() + static_cast<long>(at));
  }
  if (capture::AppendCaptureRecords(file, records.data(), records.size(), 3, &error)) ExitRemoving(dir, 3);
  const bool ok = error.find("large") != std::string::npos && file.records == 2 &&
                  capture::CaptureFilePosition(file) == 200 && fs::file_size(moved) == 200 &&
                  fs::file_size(path) == 12;
  ExitRemoving(dir, ok ? 0 : 1);
}

TEST(CaptureWriterPosix, APartlyWrittenAppendIsCutBackInTheFileItWrote) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path dir = fs::temp_directory_path() / ("capture_writer_cut_" + std::to_string(getpid()));
  fs::create_directories(dir);
  EXPECT_EXIT(AppendPastTheLimit(dir), ::testing::ExitedWithCode(0), "");
  fs::remove_all(dir);
}

}  // namespace
