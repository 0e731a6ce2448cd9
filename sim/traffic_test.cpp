// The generator's pacing: lockstep repeatability, stream coalescing,
// overflow and the unlimited stream.
#include "generated_frame.h"
#include "sim_config.h"
#include "sim_test_support.h"

namespace {

using simtest::BridgeTest;
using simtest::Stat;

sim::FrameGenerator GeneratorFor(const std::string& scenario) {
  sim::SimConfig config;
  std::string error;
  EXPECT_TRUE(sim::ParseScenario(scenario, "test", &config, &error)) << error;
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(config.shape, &generator);
  return generator;
}

// Splits bytes into the consecutive generated frames they hold, from
// firstSeq on; false when they are not exactly that.
bool HoldsConsecutiveFrames(const sim::FrameGenerator& generator, const std::vector<uint8_t>& bytes,
                            uint64_t* nextSeq) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const uint32_t length = sim::GeneratedFrameLength(generator, *nextSeq);
    if (offset + length > bytes.size() ||
        !sim::IsGeneratedFrame(generator, *nextSeq, bytes.data() + offset, length)) {
      return false;
    }
    offset += length;
    ++*nextSeq;
  }
  return true;
}

TEST_F(BridgeTest, LockstepSendsEachFrameAloneAndRepeatably) {
  const std::string scenario = "pacing=lockstep;frame=1-3000;nonj=0.2;seed=77;frames=300";
  const sim::FrameGenerator generator = GeneratorFor(scenario);
  std::vector<std::vector<uint8_t>> runs[2];
  for (auto& reads : runs) {
    Configure(scenario);
    OpenLikeReceiver();
    for (uint64_t seq = 0; seq < 300; ++seq) {
      ASSERT_TRUE(platform::WaitReceiveEvent(event_, 5000)) << seq;
      reads.push_back(ReadPending());
      ASSERT_TRUE(sim::IsGeneratedFrame(generator, seq, reads.back().data(), reads.back().size())) << seq;
    }
    EXPECT_EQ(Pending(), 0);  // frames=300 ends the stream
    EXPECT_EQ(Stat("frames_generated"), 300);
    EXPECT_EQ(Stat("j_frames") + Stat("nonj_frames"), 300);
    EXPECT_GT(Stat("nonj_frames"), 30);
    EXPECT_EQ(Stat("bytes_dropped"), 0);
    CloseLikeReceiver();
    platform::CloseReceiveEvent(event_);
    event_ = nullptr;
  }
  EXPECT_EQ(runs[0], runs[1]);
}

TEST_F(BridgeTest, StreamFramesPileUpAndComeOutInOneRead) {
  const std::string scenario = "rate=200k;frame=100;nonj=0";  // a frame every 0.5 ms
  const sim::FrameGenerator generator = GeneratorFor(scenario);
  Configure(scenario);
  OpenLikeReceiver();
  ASSERT_TRUE(WaitForPending(1000));
  const std::vector<uint8_t> first = ReadPending();
  EXPECT_GE(first.size(), 1000u);
  EXPECT_EQ(first.size() % 100, 0u);  // frames arrive whole
  uint64_t seq = 0;
  EXPECT_TRUE(HoldsConsecutiveFrames(generator, first, &seq));
  ASSERT_TRUE(WaitForPending(300));
  EXPECT_TRUE(HoldsConsecutiveFrames(generator, ReadPending(), &seq));
  EXPECT_EQ(Stat("bytes_dropped"), 0);
  CloseLikeReceiver();
}

TEST_F(BridgeTest, OverflowDropsBytesAndCountsThem) {
  Configure("pacing=lockstep;frame=4096;nonj=0;burst_every=20;burst_bytes=100000");
  OpenLikeReceiver();
  ASSERT_TRUE(WaitForPending(65535));
  CloseLikeReceiver();  // stops the traffic, so the numbers hold still
  const long long generated = Stat("bytes_generated");
  EXPECT_GE(generated, 4096 + 25 * 4096);  // the first frame and at least one burst
  EXPECT_EQ(Stat("bytes_pending"), 65535);
  EXPECT_EQ(Stat("max_pending"), 65535);
  EXPECT_EQ(Stat("bytes_dropped"), generated - 65535);
}

TEST_F(BridgeTest, UnlimitedStreamFillsWithoutLoss) {
  const std::string scenario = "rate=unlimited;frame=1000-5000;nonj=0.5;frames=400";
  const sim::FrameGenerator generator = GeneratorFor(scenario);
  Configure(scenario);
  OpenLikeReceiver();
  uint64_t seq = 0;
  uint64_t coalesced = 0;
  while (seq < 400) {
    ASSERT_TRUE(platform::WaitReceiveEvent(event_, 5000) || Pending() > 0) << seq;
    const uint64_t before = seq;
    ASSERT_TRUE(HoldsConsecutiveFrames(generator, ReadPending(), &seq)) << seq;
    if (seq - before > 1) ++coalesced;
  }
  EXPECT_GT(coalesced, 0u);
  EXPECT_EQ(Stat("bytes_dropped"), 0);
  EXPECT_EQ(Stat("frames_generated"), 400);
  CloseLikeReceiver();
}

}  // namespace
