// spi-capture's process tests that need POSIX: names no Windows file system
// takes, a FIFO as the output, and a terminal.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "process_harness.h"
#include "spi_capture_test_support.h"

namespace {

namespace fs = std::filesystem;
using spi_capture_test::Bytes;
using spi_capture_test::Concat;
using spi_capture_test::ReadBytes;
using spi_capture_test::SpiCaptureTest;
using spi_capture_test::WriteBytes;

// Quotes, backslashes, control bytes and bytes that are not UTF-8 still give
// JSON that parses.
TEST_F(SpiCaptureTest, InfoJsonParsesWhateverTheName) {
  const std::string odd = "q\"uo\\te\x01\xff\xc3\xa9.cap";
  WriteBytes(Path(odd), good_);
  const spi_capture_test::RunResult info = RunArgs({"info", "--json", odd});
  ASSERT_EQ(info.status, 0) << info.err;
  WriteBytes(Path("info.json"), info.bytes);
  RunOptions python;
  python.program = "/usr/bin/python3";
  python.args = {"-c", "import json,sys; print(json.loads(open(sys.argv[1], 'rb').readline())['records'])",
                 Path("info.json")};
  const RunResult parsed = RunProgram(python);
  EXPECT_EQ(parsed.out, "3\n") << parsed.err;
}

// An output that is a FIFO or a device (-o /dev/null) is written where it
// is: renaming a temporary file over it would replace it with a plain file
// (run as root, that replaced /dev/null itself). A FIFO stands in for the
// device here, so a regression cannot harm the machine. The test holds the
// FIFO open both ways, so the tool's open does not wait for a reader and the
// bytes stay in the FIFO until read.
TEST_F(SpiCaptureTest, OutputsThatAreNotRegularFilesAreWrittenInPlace) {
  ASSERT_EQ(mkfifo(Path("pipe.fifo").c_str(), 0600), 0);
  const int fifo = open(Path("pipe.fifo").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  const spi_capture_test::RunResult result = Run("export good.cap --format raw -o pipe.fifo");
  EXPECT_EQ(result.status, 0) << result.err;
  Bytes got(4096);
  const ssize_t n = read(fifo, got.data(), got.size());
  close(fifo);
  got.resize(n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_EQ(got, Concat(frames_));
  EXPECT_TRUE(fs::is_fifo(Path("pipe.fifo")));
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// On a terminal a run longer than a second shows a progress line on
// standard error; elsewhere nothing.
TEST_F(SpiCaptureTest, ProgressShowsOnlyOnATerminal) {
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no /usr/bin/script to make a terminal";
  const std::string command = "follow good.cap -o followed.cap --idle-exit 2";
  const spi_capture_test::RunResult plain = Run(command);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  RunOptions terminal;
  terminal.program = "/usr/bin/script";
  terminal.args = {"-qec", "'" + spi_capture_test::CapturePath() + "' " + command, "/dev/null"};
  terminal.workDir = dir_.string();
  terminal.stdinFile = "/dev/null";
  const RunResult onTerminal = RunProgram(terminal);
  EXPECT_NE(onTerminal.out.find("\rfollow good.cap: 0.0 MB, 3 records"), std::string::npos) << onTerminal.out;
}

}  // namespace
