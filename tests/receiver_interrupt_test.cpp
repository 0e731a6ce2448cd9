// Ctrl+C at every stage: the closing text once, status 1, at once, and a
// capture that ends on a record boundary and holds exactly what was sent.
#include <gtest/gtest.h>

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

void ExpectClosedByInterrupt(const RunResult& result) {
  EXPECT_TRUE(result.interrupted);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(result.timedOut);
  const std::string closing = ConsoleText(kClosingText);
  ASSERT_GE(result.out.size(), closing.size());
  EXPECT_EQ(result.out.substr(result.out.size() - closing.size()), closing);
  EXPECT_EQ(result.out.find("Program closing"), result.out.rfind("Program closing")) << "closing text twice";
  // Well short of the 5 s pause and the 8 s calls it must not wait for, with
  // room for ThreadSanitizer's 1 s at exit on a busy machine.
  EXPECT_LT(result.secondsAfterInterrupt, 3.5);
}

TEST(ReceiverInterrupt, EndsEveryStageAtOnce) {
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
    SCOPED_TRACE(c.stage);
    ReceiverRun run = MakeRun(c.scenario);
    run.options.interruptOnOutput = ConsoleText(c.interruptOnOutput);
    run.options.interruptDelayMs = c.interruptDelayMs;
    const RunResult result = RunProgram(run.options);
    ExpectClosedByInterrupt(result);
    if (!c.expectedOut.empty()) {
      EXPECT_EQ(result.out, ConsoleText(c.expectedOut));
      EXPECT_FALSE(fs::exists(run.dir + "/capture.bin"));
    }
  }
}

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

    std::vector<Bytes> frames;
    std::string error;
    ASSERT_TRUE(ReadCaptureFrames(run.dir + "/capture.bin", &frames, &error)) << error;
    sim::FrameGenerator generator;
    InitGenerator(seed, 30000, 65535, 0.05, &generator);
    sim::ExpectedFrames expected{&generator, 0, 0, true};
    Bytes want;
    uint64_t seq = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
      ASSERT_TRUE(sim::NextExpectedFrame(&expected, &want, &seq));
      ASSERT_EQ(frames[k], want) << "record " << k << " is not J frame " << seq;
    }
    fs::remove_all(run.dir);
  }
}

}  // namespace
