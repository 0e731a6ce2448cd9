// Every stop request (Ctrl+C, SIGTERM and SIGHUP on POSIX; Ctrl+C and
// Ctrl+Break on Windows) at every stage: the closing text once, status 1, at
// once, and a capture that ends on a record boundary and holds exactly what
// was sent.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "generated_frame.h"
#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;
using Bytes = std::vector<uint8_t>;

// Each stop request the platform has is a case of its own, so one that
// cannot be delivered here shows as skipped, with the reason.
class ReceiverStop : public testing::TestWithParam<int> {};

TEST_P(ReceiverStop, EndsEveryStageAtOnce) {
  const int signal = GetParam();
  std::string reason;
  if (!CanSendStopSignal(signal, &reason)) GTEST_SKIP() << reason;
  struct Case {
    const char* stage;
    std::string scenario;
    std::string interruptOnOutput;
    int interruptDelayMs;
    std::string expectedOut;  // empty: only the ending is checked
  };
  const Case cases[] = {
      // Inside a slow bridge call while looking for devices, which starts
      // right after the banner.
      {"selection", "delay=FT_CreateDeviceInfoList:8000", Banner(), 300, Banner() + kClosingText},
      {"no-bridge pause", "devices=", "Program will quit in 5 sec....\n", 0,
       Banner() +
           "Open a FT4222 device failed!..\nCheck the USB connection......\nProgram will quit in 5 "
           "sec....\n" +
           kClosingText},
      {"set-up", "delay=FT_SetTimeouts:8000", "( Press Ctrl + C to stop recording )\n\n", 0,
       HeaderFor("capture.bin") + kClosingText},
      // Waiting on the event with nothing arriving.
      {"idle recording", "source=none", kRecordingStarts, 0, ""},
      // Inside a slow read.
      {"slow read", "delay=FT4222_SPISlave_Read:8000;source=script;frame J 100", kRecordingStarts, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stage) + ", " + StopSignalName(signal));
    ReceiverRun run = MakeRun(c.scenario);
    run.options.interruptSignal = signal;
    run.options.interruptOnOutput = ConsoleText(c.interruptOnOutput);
    run.options.interruptDelayMs = c.interruptDelayMs;
    const RunResult result = RunProgram(run.options);
    ExpectClosedByInterrupt(result);
    if (!c.expectedOut.empty()) {
      EXPECT_EQ(result.out, ConsoleText(c.expectedOut));
      EXPECT_FALSE(fs::exists(run.dir + "/capture.bin"));
    }
    fs::remove_all(run.dir);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStopRequest, ReceiverStop, testing::ValuesIn(StopSignals()),
                         [](const testing::TestParamInfo<int>& info) {
                           std::string name;
                           for (char c : StopSignalName(info.param)) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

// A full-speed stream of large frames, interrupted at random moments: each
// capture must be exactly the first k J frames that were sent, whole.
TEST(ReceiverInterrupt, EachCaptureIsAnExactPrefixOfTheStreamSent) {
  std::mt19937 random(20261207);
  constexpr int kRuns = 12;
  for (int i = 0; i < kRuns; ++i) {
    const uint64_t seed = random();
    SCOPED_TRACE("seed " + std::to_string(seed));
    ReceiverRun run =
        MakeRun("pacing=lockstep;rate=unlimited;frame=30000-65535;nonj=0.05;seed=" + std::to_string(seed));
    run.options.watchFile = run.dir + "/capture.bin";
    run.options.interruptAtFileSize = std::uniform_int_distribution<int64_t>(0, 40 << 20)(random);
    const RunResult result = RunProgram(run.options);
    ExpectClosedByInterrupt(result);

    ExpectExactPrefix(run.dir + "/capture.bin", seed, 30000, 65535, 0.05);
    fs::remove_all(run.dir);
  }
}

}  // namespace
