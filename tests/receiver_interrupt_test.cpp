// Every stop request (Ctrl+C, SIGTERM, SIGHUP) at every stage: the closing
// text once, status 1, at once, and a capture that ends on a record boundary
// and holds exactly what was sent.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
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
  const std::string closing = kClosingText;
  ASSERT_GE(result.out.size(), closing.size());
  EXPECT_EQ(result.out.substr(result.out.size() - closing.size()), closing);
  EXPECT_EQ(result.out.find("Program closing"), result.out.rfind("Program closing")) << "closing text twice";
  // Well short of the 5 s pause and the 8 s calls it must not wait for, with
  // room for ThreadSanitizer's 1 s at exit on a busy machine.
  EXPECT_LT(result.secondsAfterInterrupt, 3.5);
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The capture must be exactly the first k storable J frames the generator
// sent, whole (frames of one byte cannot be stored, the receiver drops them).
void ExpectExactPrefix(const std::string& path, uint64_t seed, uint32_t minLength, uint32_t maxLength,
                       double nonJShare) {
  std::vector<Bytes> frames;
  std::string error;
  ASSERT_TRUE(ReadCaptureFrames(path, &frames, &error)) << error;
  sim::FrameGenerator generator;
  InitGenerator(seed, minLength, maxLength, nonJShare, &generator);
  sim::ExpectedFrames expected{&generator, 0, 0, true};
  Bytes want;
  uint64_t seq = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    do {
      ASSERT_TRUE(sim::NextExpectedFrame(&expected, &want, &seq));
    } while (want.size() < 2);
    ASSERT_EQ(frames[k], want) << "record " << k << " is not J frame " << seq;
  }
}

TEST(ReceiverInterrupt, EveryStopSignalEndsEveryStageAtOnce) {
  struct Case {
    const char* stage;
    std::string scenario;
    std::string interruptOnOutput;
    int interruptAfterMs;
    std::string expectedOut;  // empty: only the ending is checked
  };
  const Case cases[] = {
      // Inside a slow bridge call while looking for devices.
      {"selection", "delay=FT_CreateDeviceInfoList:8000", "", 300, Banner() + kClosingText},
      {"no-bridge pause", "devices=", "Program will quit in 5 sec....\n", -1,
       Banner() +
           "Open a FT4222 device failed!..\nCheck the USB connection......\nProgram will quit in 5 "
           "sec....\n" +
           kClosingText},
      {"set-up", "delay=FT_SetTimeouts:8000", "( Press Ctrl + C to stop recording )\n\n", -1,
       HeaderFor("capture.bin") + kClosingText},
      // Waiting on the event with nothing arriving.
      {"idle recording", "source=none", kRecordingStarts, -1, ""},
      // Inside a slow read.
      {"slow read", "delay=FT4222_SPISlave_Read:8000;source=script;frame J 100", kRecordingStarts, -1, ""},
  };
  for (const int signal : kStopSignals) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.stage) + ", " + strsignal(signal));
      ReceiverRun run = MakeRun(c.scenario);
      run.options.interruptSignal = signal;
      run.options.interruptOnOutput = c.interruptOnOutput;
      run.options.interruptAfterMs = c.interruptAfterMs;
      const RunResult result = RunProgram(run.options);
      ExpectClosedByInterrupt(result);
      if (!c.expectedOut.empty()) {
        EXPECT_EQ(result.out, c.expectedOut);
        EXPECT_FALSE(fs::exists(run.dir + "/capture.bin"));
      }
      fs::remove_all(run.dir);
    }
  }
}

// The usual way to record for a while without a keyboard: timeout sends
// SIGTERM, and the capture must still end on a record boundary.
TEST(ReceiverInterrupt, TimeoutsTermLeavesAWholeCaptureAndTheClosingText) {
  for (const bool preserveStatus : {false, true}) {
    SCOPED_TRACE(preserveStatus ? "--preserve-status" : "plain");
    // Reads held up a little, so that frames still flow when the time is up.
    ReceiverRun run = MakeRun("pacing=lockstep;frame=1-65535;nonj=0.01;seed=15;delay=FT4222_SPISlave_Read:1");
    run.options.args = {"-s", "TERM", "2", ReceiverPath(), "capture.bin"};
    if (preserveStatus) run.options.args.insert(run.options.args.begin(), "--preserve-status");
    run.options.program = "/usr/bin/timeout";
    const RunResult result = RunProgram(run.options);
    const std::string tail = result.out.substr(result.out.size() > 300 ? result.out.size() - 300 : 0);
    // timeout reports its own 124 unless asked to pass the program's on.
    EXPECT_EQ(result.exitCode, preserveStatus ? 1 : 124)
        << "signal " << result.termSignal << ", output ends: " << tail << "\nstderr: " << result.err;
    EXPECT_EQ(result.err, "");
    const std::string closing = kClosingText;
    EXPECT_TRUE(result.out.size() >= closing.size() &&
                result.out.compare(result.out.size() - closing.size(), closing.size(), closing) == 0)
        << tail;
    ASSERT_TRUE(fs::exists(run.dir + "/capture.bin")) << tail;
    EXPECT_GT(fs::file_size(run.dir + "/capture.bin"), 0u);
    ExpectExactPrefix(run.dir + "/capture.bin", 15, 1, 65535, 0.01);
    fs::remove_all(run.dir);
  }
}

// Under nohup (which ignores SIGHUP) a recording is meant to outlive its
// terminal: a hang-up must not end it, while SIGTERM still ends it cleanly.
TEST(ReceiverInterrupt, AHangUpIgnoredAtStartIsLeftIgnored) {
  ReceiverRun run = MakeRun("source=script;frame J 100;frame J 200");
  run.options.program = "/bin/sh";
  run.options.args = {"-c", "trap '' HUP; exec \"$0\" capture.bin", ReceiverPath()};
  run.options.interruptSignal = SIGHUP;
  run.options.interruptOnOutput = kRecordingStarts;
  run.options.timeoutMs = 2500;
  RunResult result = RunProgram(run.options);
  EXPECT_TRUE(result.interrupted);
  EXPECT_TRUE(result.timedOut) << "the hang-up ended the recording";
  EXPECT_EQ(result.out.find("Program closing"), std::string::npos);

  run.options.interruptSignal = SIGTERM;
  run.options.timeoutMs = 30000;
  result = RunProgram(run.options);
  ExpectClosedByInterrupt(result);
  fs::remove_all(run.dir);
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

    ExpectExactPrefix(run.dir + "/capture.bin", seed, 30000, 65535, 0.05);
    fs::remove_all(run.dir);
  }
}

}  // namespace
