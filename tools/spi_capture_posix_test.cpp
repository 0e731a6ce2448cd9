// spi-capture's process tests that need POSIX: names no Windows file system
// takes, a FIFO as the output, a terminal, and outputs that fail on demand:
// standard output on /dev/full, and a small file system (a tmpfs, mounted
// as root) that fills up.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "process_harness.h"
#include "spi_capture_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace spi_capture_test;

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
  const ::RunResult parsed = RunProgram(python);
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
  const ::RunResult onTerminal = RunProgram(terminal);
  EXPECT_NE(onTerminal.out.find("\rfollow good.cap: 0.0 MB, 3 records"), std::string::npos) << onTerminal.out;
}

// Every command that writes to standard output says when it could not, and
// exits 3: not 0 (success), not 1 (damage, or for check lost frames).
TEST_F(SpiCaptureTest, AFailedStandardOutputIsReportedWithStatus3) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::vector<std::vector<std::string>> commands = {
      {"--help"},
      {"--version"},
      {"help"},
      {"help", "dump"},
      {"dump", "--help"},
      {"info", "good.cap"},
      {"info", "--json", "good.cap"},
      {"verify", "good.cap"},
      {"dump", "good.cap"},
      {"check", "good.cap", "--counter", "1:1"},
      {"export", "good.cap", "--format", "raw", "-o", "-"},
      {"export", "good.cap", "--format", "csv", "-o", "-"},
      {"cat", "good.cap", "-o", "-"},
      {"slice", "good.cap", "--from", "0", "-o", "-"},
      {"repair", "damaged.cap", "-o", "-"},
      {"split", "good.cap", "--records", "1", "-o", "p"},
      {"follow", "good.cap", "--idle-exit", "1"},
  };
  for (const std::vector<std::string>& args : commands) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : std::string()));
    EXPECT_EQ(Wait(Start(args, "/dev/full", "err"), 20000), 3);
    // Commands that write their data there say so as they fail; the last
    // line is always this one.
    EXPECT_CONTAINS(ReadText(Path("err")), "spi-capture: cannot write standard output");
  }
}

// A file system that fills up halfway through a split or an export of frame
// files: what this run wrote is deleted again and the messages name the
// user's files, never a temporary one.
TEST_F(SpiCaptureTest, AFullDiskLeavesNoPartialSetOfFiles) {
  const fs::path disk = dir_ / "disk";
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  }
  std::vector<Bytes> frames;
  for (uint8_t i = 0; i < 40; ++i) frames.push_back(MakeFrame(4000, i));
  WriteBytes(Path("big.cap"), Encode(frames));
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"split big.cap --records 2 -o disk/p", "spi-capture: disk/p: deleted the "},
      {"export big.cap --format frames -o disk/frames", "spi-capture: disk/frames: deleted the "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const spi_capture_test::RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_CONTAINS(result.err, ": write failed: No space left on device\n");
    EXPECT_CONTAINS(result.err, c.message);
    EXPECT_EQ(result.err.find(".tmp"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(disk)) << "left on the disk: " << fs::directory_iterator(disk)->path();
  }
  umount(disk.c_str());
}

}  // namespace
