// The generator's pacing: lockstep repeatability, stream coalescing,
// overflow, the unlimited stream, and who a stream's drops are blamed on.
#include "traffic.h"

#include <algorithm>

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
  // 15 whole frames fit; the 16th lost its last byte and counts as dropped.
  EXPECT_EQ(Stat("frames_dropped"), Stat("frames_generated") - 15);
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

// The stream's pacing on a simulated clock, without threads: the pacing
// thread looks every threadEveryUs; the receiver, like the real one, reads
// only once told that data arrived (or while some is left), readerDelayUs
// later, at most readLimit bytes a read, and not at all from readerStopsUs on.
// At the end the simulator may hold back at most heldAtMost bytes that were
// due, beyond a frame.
struct PacingRun {
  const char* name;
  int threadEveryUs;
  int readerDelayUs;
  size_t readLimit;
  int readerStopsUs;
  bool drops;
  size_t heldAtMost;
};

constexpr int kRunUs = 50000;
constexpr int kNever = kRunUs + 1;
constexpr uint64_t kUsbRate = 53248000;  // bytes per second, 4096 bytes every ~77 us
constexpr size_t kAll = sim::kRxCapacity;

struct PacingResult {
  std::vector<uint8_t> received;
  sim::TrafficCounters counters;
  size_t pending = 0;
};

PacingResult RunPacing(const PacingRun& run, const std::string& scenario) {
  sim::SimConfig config;
  std::string error;
  EXPECT_TRUE(sim::ParseScenario(scenario, "test", &config, &error) && sim::CheckScenario(config, &error))
      << error;
  sim::FaultState faults;
  sim::ResetFaultState(config.shape.seed, &faults);
  sim::Traffic traffic;
  EXPECT_TRUE(sim::InitTraffic(config, &faults, &traffic, &error)) << error;

  const sim::TimePoint start = sim::TimePoint(std::chrono::seconds(1));
  const auto at = [&](int us) { return start + std::chrono::microseconds(us); };
  PacingResult result;
  std::vector<uint8_t> chunk(sim::kRxCapacity);
  int readerWakesUs = kNever;
  if (sim::StartTraffic(&traffic, &faults, start)) readerWakesUs = run.readerDelayUs;
  for (int us = 0; us < kRunUs; ++us) {
    if (us % run.threadEveryUs == 0 && sim::AdvanceTraffic(&traffic, &faults, at(us)) &&
        readerWakesUs == kNever) {
      readerWakesUs = us + run.readerDelayUs;
    }
    if (us < readerWakesUs || us >= run.readerStopsUs) continue;
    // The receiver's status query and read, each of which lets due data in.
    readerWakesUs = kNever;
    sim::AdvanceTraffic(&traffic, &faults, at(us));
    const size_t asked = std::min(traffic.rx.size, run.readLimit);
    bool arrived = sim::AdvanceTraffic(&traffic, &faults, at(us));
    const size_t got = sim::ReadTraffic(&traffic, chunk.data(), asked, at(us));
    result.received.insert(result.received.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
    arrived |= sim::AdvanceTraffic(&traffic, &faults, at(us));
    if (arrived || traffic.rx.size > 0) readerWakesUs = us + run.readerDelayUs;
  }
  result.counters = traffic.counters;
  result.pending = traffic.rx.size;
  return result;
}

TEST(StreamPacing, DropsOnlyWhatTheReceiverFailedToDrain) {
  const PacingRun runs[] = {
      {"on-time thread, prompt reader", 20, 30, kAll, kNever, false, 0},
      // 2 ms late: 26 frames due at once, 10 more than the buffer holds.
      {"late thread, prompt reader", 2000, 30, kAll, kNever, false, sim::kRxCapacity},
      {"late thread, sluggish reader", 1500, 300, kAll, kNever, false, sim::kRxCapacity},
      // An idle receiver loses what does not fit at once, as on the chip.
      {"on-time thread, idle reader", 20, 30, kAll, 5000, true, 0},
      {"late thread, idle reader", 2000, 30, kAll, 5000, true, sim::kRxCapacity},
      // 2048 bytes every 60 us is about 34 MB/s against 53.
      {"on-time thread, slow reader", 20, 60, 2048, kNever, true, sim::kRxCapacity},
      {"late thread, slow reader", 2000, 60, 2048, kNever, true, sim::kRxCapacity},
  };
  const std::string scenario = "frame=4096;nonj=0;rate=" + std::to_string(kUsbRate);
  const sim::FrameGenerator generator = GeneratorFor(scenario);
  for (const PacingRun& run : runs) {
    SCOPED_TRACE(run.name);
    // What the master had sent when the pacing thread last looked.
    const uint64_t lastLookUs = (kRunUs - 1) / run.threadEveryUs * run.threadEveryUs;
    const uint64_t sentBySchedule = kUsbRate * lastLookUs / 1000000;
    const PacingResult result = RunPacing(run, scenario);
    const sim::TrafficCounters& counters = result.counters;
    EXPECT_EQ(counters.bytesGenerated, result.received.size() + result.pending + counters.bytesDropped);
    EXPECT_GE(counters.bytesGenerated + run.heldAtMost + 4096, sentBySchedule);
    if (!run.drops) {
      EXPECT_EQ(counters.bytesDropped, 0u);
      uint64_t seq = 0;
      EXPECT_TRUE(HoldsConsecutiveFrames(generator, result.received, &seq));
    } else {
      EXPECT_GT(counters.bytesDropped, sentBySchedule / 5);
    }
  }
}

}  // namespace
