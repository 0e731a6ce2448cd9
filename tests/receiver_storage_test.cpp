// A capture file that cannot be created or written: one clear line, status 1,
// and never a torn record left behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;

TEST(ReceiverStorage, ANameThatCannotBeCreatedEndsWithTheSystemsReason) {
  struct Case {
    const char* what;
    std::string name;  // relative to the run's directory
  };
  const Case cases[] = {
      {"empty name", ""},
      {"a directory", "."},
      {"a missing folder", "missing/capture.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReceiverRun run = MakeRun("source=none", {c.name});
    // The reason is the system's own, and systems differ (a directory is
    // "Is a directory" on Linux, "Permission denied" on Windows): ask it.
    errno = 0;
    std::ofstream probe(c.name.empty() ? c.name : (fs::path(run.dir) / c.name).string(), std::ios::binary);
    ASSERT_FALSE(probe.is_open());
    const std::string reason = std::strerror(errno);
    const RunResult result = RunProgram(run.options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, ConsoleText(HeaderFor(c.name) + kRecordingStarts + "Cannot create capture file " +
                                      c.name + ": " + reason + "\n"));
  }
}

TEST(ReceiverStorage, AFailedWriteIsReportedAndEndsThroughTheOrderlyEnd) {
  // Under wine the device is reached through the drive that maps the root.
  const std::string full = fs::absolute("/dev/full").string();
  if (!std::ifstream(full).is_open()) GTEST_SKIP() << "this system has no /dev/full";
  // The bridge signals the event once more while it stops notifying: the
  // orderly end must not have freed the event by then (the sanitizer builds
  // report it).
  ReceiverRun run = MakeRun("source=script;release_signal=1;frame 4A 01 02 03", {full});
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(WithoutStatusLines(result.out),
            ConsoleText(HeaderFor(full) + kRecordingStarts + "Writing capture file " + full +
                        " failed: No space left on device\n"));
  const std::string log = ReadText(run.dir + "/calls.log");
  EXPECT_NE(log.find("FT4222_UnInitialize handle=1 -> 0\nFT_Close handle=1 -> 0\n"), std::string::npos)
      << log;
}

// A second recorder started on a file that is being recorded must neither
// empty it nor write into it: it says so, and the recording goes on whole.
TEST(ReceiverStorage, ASecondRecorderOfTheSameFileIsRefused) {
  ReceiverRun first = MakeRun("pacing=lockstep;rate=2M;frame=100-5000;nonj=0;seed=12");
  const std::string capture = first.dir + "/capture.bin";
  first.options.watchFile = first.dir + "/second.done";  // stopped once the second is done
  first.options.interruptAtFileSize = 0;
  RunResult recorded;
  std::thread recording([&] { recorded = RunProgram(first.options); });
  while (FileSize(capture) < 100000) std::this_thread::yield();

  ReceiverRun second = MakeRun("source=none", {capture});
  const RunResult refused = RunProgram(second.options);
  std::ofstream(first.options.watchFile).put('\n');
  recording.join();
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, ConsoleText(HeaderFor(capture) + kRecordingStarts + "Cannot create capture file " +
                                     capture + ": it is in use by another recording\n"));
  ExpectClosedByInterrupt(recorded);
  ExpectExactPrefix(capture, 12, 100, 5000, 0);
}

}  // namespace
