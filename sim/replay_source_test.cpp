// Replaying a capture file through the simulated bridge.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "capture_encoder.h"
#include "generated_frame.h"
#include "sim_test_support.h"

namespace {

using simtest::BridgeTest;

std::string Record(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> record;
  std::string error;
  EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &record, &error)) << error;
  return std::string(record.begin(), record.end());
}

class ReplayTest : public BridgeTest {
 protected:
  void SetUp() override {
    sim::FrameShape shape;
    shape.minLength = 2;
    shape.maxLength = 5000;
    shape.nonJShare = 0.0;
    sim::InitFrameGenerator(shape, &generator_);
    path_ = ::testing::TempDir() + "sim_replay_" + std::to_string(::getpid()) + ".bin";
  }
  void TearDown() override {
    BridgeTest::TearDown();
    std::remove(path_.c_str());
  }
  void WriteCapture(int frames, const std::string& tail) {
    std::ofstream out(path_, std::ios::binary);
    for (int seq = 0; seq < frames; ++seq) out << Record(sim::GeneratedFrame(generator_, seq));
    out << tail;
  }

  sim::FrameGenerator generator_;
  std::string path_;
};

TEST_F(ReplayTest, RecordsBecomeFramesAgainInOrder) {
  WriteCapture(5, "");
  Configure("source=replay;pacing=lockstep;after=repeat;replay=" + path_);
  OpenLikeReceiver();
  for (int read = 0; read < 12; ++read) {
    const std::vector<uint8_t> frame = ReadPending();
    EXPECT_EQ(frame, sim::GeneratedFrame(generator_, read % 5)) << read;
  }
  CloseLikeReceiver();
}

TEST_F(ReplayTest, DamageEndsTheReplayAndIsReported) {
  WriteCapture(2, std::string("J\x01\x40", 3));  // a torn third record
  Configure("source=replay;pacing=lockstep;replay=" + path_);
  OpenLikeReceiver();
  EXPECT_EQ(ReadPending().size(), sim::GeneratedFrameLength(generator_, 0));
  EXPECT_EQ(ReadPending().size(), sim::GeneratedFrameLength(generator_, 1));
  EXPECT_EQ(Pending(), 0);
  EXPECT_NE(SimStatsText().find("replay_error=record 2"), std::string::npos) << SimStatsText();
  CloseLikeReceiver();
}

TEST_F(ReplayTest, AMissingFileIsAnInvalidScenario) {
  std::string error;
  EXPECT_FALSE(SimConfigure("source=replay;replay=" + path_ + ".missing", &error));
  uint32_t count = 9;
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 0u);
}

}  // namespace
