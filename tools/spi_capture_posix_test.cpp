// spi-capture against outputs that fail, which only POSIX systems make on
// demand: standard output on /dev/full, and a small file system (a tmpfs,
// mounted as root) that fills up.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

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
    const RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_CONTAINS(result.err, ": write failed: No space left on device\n");
    EXPECT_CONTAINS(result.err, c.message);
    EXPECT_EQ(result.err.find(".tmp"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(disk)) << "left on the disk: " << fs::directory_iterator(disk)->path();
  }
  umount(disk.c_str());
}

}  // namespace
