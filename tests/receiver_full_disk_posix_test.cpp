// A file system that fills up during recording, made with a small tmpfs
// (POSIX, as root).
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;
using Bytes = std::vector<uint8_t>;

// A file system that fills up during recording: the file keeps only whole
// records, and the receiver says why it stopped.
TEST(ReceiverStorage, AFullDiskLeavesOnlyWholeRecords) {
  const std::string mountPoint = MakeTempDir("receiver_full_disk");
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0) {
    fs::remove(mountPoint);
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  }
  const std::string capture = mountPoint + "/capture.bin";
  ReceiverRun run = MakeRun("pacing=lockstep;rate=unlimited;frame=5000;nonj=0", {capture});
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("Writing capture file " + capture + " failed: No space left on device\n"),
            std::string::npos)
      << result.out;
  std::vector<Bytes> frames;
  std::string error;
  EXPECT_TRUE(ReadCaptureFrames(capture, &frames, &error)) << error;
  EXPECT_EQ(fs::file_size(capture), frames.size() * 5002);
  EXPECT_GT(frames.size(), 10u);
  umount(mountPoint.c_str());
  fs::remove(mountPoint);
}

}  // namespace
