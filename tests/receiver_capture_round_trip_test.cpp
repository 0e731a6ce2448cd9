// Captures the receiver wrote, read back by spi-capture and replayed through
// the simulated bridge: what comes out is what the master sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "generated_frame.h"
#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;
using Bytes = std::vector<uint8_t>;

// Records `frames` lockstep generator frames of the given shape into
// run.dir/capture.bin.
ReceiverRun Record(const std::string& shape, int frames) {
  ReceiverRun run = MakeRun("pacing=lockstep;rate=unlimited;frames=" + std::to_string(frames) + ";" + shape);
  run.options.interruptAfterMs = 1500;
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  return run;
}

TEST(ReceiverCaptureRoundTrip, ToolVerifiesAndExportsExactlyTheFramesSent) {
  const ReceiverRun run = Record("frame=1-9000;nonj=0.2;seed=5", 400);
  const std::string capture = run.dir + "/capture.bin";
  EXPECT_EQ(RunSpiCapture({"verify", capture}), 0);
  ASSERT_EQ(RunSpiCapture({"export", capture, "--format", "raw", "-o", capture + ".raw"}), 0);

  sim::FrameGenerator generator;
  InitGenerator(5, 1, 9000, 0.2, &generator);
  sim::ExpectedFrames expected{&generator, 0, 400, true};
  Bytes frame, sent;
  uint64_t seq = 0;
  size_t stored = 0;
  while (sim::NextExpectedFrame(&expected, &frame, &seq)) {
    if (frame.size() < 2) continue;  // a 1-byte J frame cannot be stored
    sent.insert(sent.end(), frame.begin(), frame.end());
    ++stored;
  }
  std::vector<Bytes> frames;
  std::string error;
  ASSERT_TRUE(ReadCaptureFrames(capture, &frames, &error)) << error;
  EXPECT_EQ(frames.size(), stored);
  EXPECT_EQ(ReadBinaryFile(capture + ".raw"), sent);
}

TEST(ReceiverCaptureRoundTrip, AReplayedCaptureIsRecordedIdentically) {
  const ReceiverRun first = Record("frame=2-65535;nonj=0;seed=9", 150);
  const std::string original = first.dir + "/capture.bin";
  ReceiverRun replay = MakeRun("source=replay;pacing=lockstep;replay=" + original, {"second.bin"});
  replay.options.watchFile = replay.dir + "/second.bin";
  replay.options.interruptAtFileSize = static_cast<int64_t>(fs::file_size(original));
  replay.options.interruptAfterMs = 10000;  // in case it never gets there
  const RunResult result = RunProgram(replay.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(ReadBinaryFile(replay.dir + "/second.bin"), ReadBinaryFile(original));
  EXPECT_EQ(RunSpiCapture({"verify", replay.dir + "/second.bin"}), 0);
}

// FNV-1a, 64 bits: enough to tell two captures apart.
uint64_t Digest(const Bytes& bytes) {
  uint64_t hash = 14695981039346656037u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211u;
  return hash;
}

// The Linux build and both Windows builds must store the same bytes for the
// same stream: the digest was taken from the Linux build, and any build whose
// generator, frame filter or record layout differs gives another one.
TEST(ReceiverCaptureRoundTrip, EveryBuildRecordsTheSameBytesForTheSameStream) {
  constexpr int kFrames = 300;
  sim::FrameGenerator generator;
  InitGenerator(77, 1, 65535, 0.1, &generator);
  sim::ExpectedFrames expected{&generator, 0, kFrames, true};
  Bytes frame;
  uint64_t seq = 0;
  int64_t size = 0;
  while (sim::NextExpectedFrame(&expected, &frame, &seq)) {
    if (frame.size() >= 2) size += static_cast<int64_t>(frame.size()) + 2;
  }
  ReceiverRun run = MakeRun("pacing=lockstep;rate=unlimited;frame=1-65535;nonj=0.1;seed=77;frames=" +
                            std::to_string(kFrames));
  run.options.watchFile = run.dir + "/capture.bin";
  run.options.interruptAtFileSize = size;
  run.options.interruptAfterMs = 20000;  // in case it never gets there
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  const Bytes capture = ReadBinaryFile(run.dir + "/capture.bin");
  EXPECT_EQ(static_cast<int64_t>(capture.size()), size);
  EXPECT_EQ(Digest(capture), 0xb6512f8432ac7599U) << std::hex << Digest(capture);
}

}  // namespace
