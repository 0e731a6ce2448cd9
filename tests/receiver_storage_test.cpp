// A capture file that cannot be created or written: one clear line, status 1,
// and never a torn record left behind.
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

TEST(ReceiverStorage, ANameThatCannotBeCreatedEndsWithTheSystemsReason) {
  struct Case {
    const char* what;
    std::string name;  // relative to the run's directory
    std::string reason;
  };
  const Case cases[] = {
      {"empty name", "", "No such file or directory"},
      {"a directory", ".", "Is a directory"},
      {"a missing folder", "missing/capture.bin", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReceiverRun run = MakeRun("source=none", {c.name});
    const RunResult result = RunProgram(run.options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, HeaderFor(c.name) + kRecordingStarts + "Cannot create capture file " + c.name +
                              ": " + c.reason + "\n");
  }
}

TEST(ReceiverStorage, AFailedWriteIsReportedAndEndsThroughTheOrderlyEnd) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "this system has no /dev/full";
  // The bridge signals the event once more while it stops notifying: the
  // orderly end must not have freed the event by then (the sanitizer builds
  // report it).
  ReceiverRun run = MakeRun("source=script;release_signal=1;frame 4A 01 02 03", {"/dev/full"});
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(WithoutStatusLines(result.out),
            HeaderFor("/dev/full") + kRecordingStarts +
                "Writing capture file /dev/full failed: No space left on device\n");
  const std::string log = ReadText(run.dir + "/calls.log");
  EXPECT_NE(log.find("FT4222_UnInitialize handle=1 -> 0\nFT_Close handle=1 -> 0\n"), std::string::npos)
      << log;
}

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
