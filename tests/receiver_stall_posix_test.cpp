// A disk that stalls while the receiver records (a FIFO whose reader stops
// reading for a while): as long as the capture buffer covers the stall,
// nothing is lost; when it cannot, the receiver says so; a stop request or a
// failing disk during the stall keeps its promises.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "receiver_test_support.h"
#include "stalling_fifo.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;

constexpr uint64_t kMiB = 1 << 20;
const char kFullBuffer[] = "The disk fell behind: the capture buffer filled up (";

struct StalledRun {
  explicit StalledRun(const std::string& scenario) : run(MakeRun(scenario)) {}
  ReceiverRun run;
  bench::StallingFifo fifo;
  RunResult result;
};

// Records the run's scenario into a stalling FIFO until the trigger that
// setUp sets.
void RecordIntoStallingFifo(const bench::StallPlan& plan, StalledRun* stalled, void (*setUp)(StalledRun*)) {
  SetEnv(&stalled->run.options, "SPI_SIM_STATS", stalled->run.dir + "/stats.txt");
  std::string error;
  ASSERT_TRUE(bench::StartStallingFifo(stalled->run.dir, plan, &stalled->fifo, &error)) << error;
  stalled->run.options.args = {stalled->fifo.path};
  stalled->run.options.watchFile = stalled->fifo.copyPath;
  setUp(stalled);
  stalled->result = RunProgram(stalled->run.options);
  bench::FinishStallingFifo(&stalled->fifo);
}

// 4 MB/s against a half-second stall: the bridge's 64 KiB would last 16 ms,
// the capture buffer holds the 2 MB. Nothing is lost, by the simulator's
// count and by the capture's own frames, and there is nothing to report.
TEST(ReceiverStall, AStallTheBufferCoversLosesNothing) {
  StalledRun stalled("pacing=stream;rate=4000000;frame=4096;nonj=0;seed=7");
  bench::StallPlan plan;
  plan.afterBytes = 1 * kMiB;
  plan.stallMs = 500;
  RecordIntoStallingFifo(plan, &stalled,
                         [](StalledRun* s) { s->run.options.interruptAtFileSize = 4 * kMiB; });
  ExpectClosedByInterrupt(stalled.result);
  EXPECT_EQ(stalled.fifo.stalls, 1);
  EXPECT_EQ(stalled.result.out.find(kFullBuffer), std::string::npos);
  EXPECT_EQ(StatValue(ReadText(stalled.run.dir + "/stats.txt"), "frames_dropped"), 0u);
  // Frames pile up between reads, so a record may hold several: the
  // master's counter shows that none is missing.
  EXPECT_EQ(RunSpiCapture({"check", stalled.fifo.copyPath, "--counter", "1:8", "--frame-size", "4096"}), 0);
}

// A stall far longer than the buffer lasts at full speed: the receiver says
// that the buffer filled up, and a stop request after that still gets every
// record handed over written out, then the closing text. (The interrupt
// storm stops recordings in the middle of stalls.)
TEST(ReceiverStall, AFullBufferIsReportedAndAStopAfterItLeavesAnExactPrefix) {
  StalledRun stalled("pacing=lockstep;rate=unlimited;frame=4096;nonj=0;seed=8");
  bench::StallPlan plan;
  plan.afterBytes = 1 * kMiB;
  // The line comes once the buffer has drained to half, after the stall:
  // the stall must outlast filling 64 MiB in the slowest build
  // (ThreadSanitizer reads about 40 MB/s here).
  plan.stallMs = 5000;
  RecordIntoStallingFifo(plan, &stalled,
                         [](StalledRun* s) { s->run.options.interruptOnOutput = kFullBuffer; });
  ExpectClosedByInterrupt(stalled.result);
  EXPECT_EQ(stalled.fifo.stalls, 1);
  ExpectExactPrefix(stalled.fifo.copyPath, 8, 4096, 4096, 0);
  // Nearly the whole 64 MiB: each chunk's tail too short for a record and
  // the part of the front chunk already written are not held.
  const std::regex reported(
      R"(The disk fell behind: the capture buffer filled up \(6[0-4]\.\d MiB held\) and the receiver waited )"
      R"([0-9]+\.[0-9]{2} s for room; the bridge may have dropped data meanwhile\n)");
  EXPECT_TRUE(std::regex_search(WithoutStatusLines(stalled.result.out), reported)) << stalled.result.out;
}

// The disk goes away while the buffer holds records: the receiver says how
// many could not be stored, then why, and ends with status 1.
TEST(ReceiverStall, AFailingDiskWithRecordsHeldSaysHowManyWereLost) {
  StalledRun stalled("pacing=lockstep;rate=unlimited;frame=4096;nonj=0;seed=9");
  bench::StallPlan plan;
  plan.afterBytes = 1 * kMiB;
  plan.stallMs = 500;
  plan.closeAfterStall = true;
  RecordIntoStallingFifo(plan, &stalled, [](StalledRun*) {});
  EXPECT_EQ(stalled.result.exitCode, 1);
  EXPECT_EQ(stalled.result.err, "");
  const std::regex lost(
      R"([\r\n]([0-9]+) records held in memory could not be stored:\nWriting capture file )" +
      stalled.fifo.path + R"( failed: Broken pipe\n$)");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(stalled.result.out, match, lost)) << stalled.result.out;
  EXPECT_GT(std::stoull(match[1]), 1000u);  // a buffer full of 4 KiB frames
}

}  // namespace
