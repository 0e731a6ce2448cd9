// Device faults under load: long runs against a simulated bridge that fails
// status queries and reads, delivers short reads, holds every call up and
// overflows its buffer with bursts. The receiver must keep recording, store
// only frames the master really sent, report every failed read in its own
// words, and close cleanly at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

#include "decimal_number.h"
#include "frame_check.h"
#include "run_support.h"

namespace {

struct FaultRun {
  const char* name;
  std::string faults;  // scenario items on top of the frame source
  std::string source;
  uint32_t minLength;
  uint32_t maxLength;
  CaptureExpectation expectation;
  bool oneFramePerRead;  // lockstep: every record is exactly one frame
  bool overflows;        // bursts must have lost bytes
};

const char kEveryFault[] =
    ";fail=FT4222_SPISlave_GetRxStatus:4%0.03;fail=FT4222_SPISlave_Read:4%0.03;short_read=0.05";

// A stream keeps the receive event coming; in lockstep a failed or short read
// leaves nothing new to announce, so the receiver waits out its 1-second
// limit, and faults there are kept rare.
const FaultRun kFaultRuns[] = {
    {"stream: failed queries and reads, short reads, every call delayed",
     std::string(kEveryFault) + ";delay=*:0-1", "rate=8M", 13, 16384, CaptureExpectation::kFramePieces, false,
     false},
    {"stream with bursts overflowing the buffer, failed queries and reads, short reads",
     std::string(kEveryFault) + ";delay=*:0-1;burst_every=250;burst_bytes=200000", "rate=2M", 13, 8192,
     CaptureExpectation::kFramePieces, false, true},
    {"lockstep: one frame per read, rare failures, every call delayed up to 2 ms",
     ";fail=FT4222_SPISlave_GetRxStatus:4%0.0005;fail=FT4222_SPISlave_Read:5%0.0005;short_read=0.0005;delay=*"
     ":0-2",
     "pacing=lockstep", 13, 65535, CaptureExpectation::kWholeFrames, true, false},
};

// The statistics file's numbers by key (its texts, such as config=ok, left out).
std::map<std::string, uint64_t> ReadStats(const std::string& path) {
  std::map<std::string, uint64_t> stats;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    uint64_t value = 0;
    if (equals != std::string::npos &&
        common::ParseDecimal(std::string_view(line).substr(equals + 1), UINT64_MAX, &value)) {
      stats[line.substr(0, equals)] = value;
    }
  }
  return stats;
}

// The number that follows the first `label` in text from `from` on, up to
// the next blank or line end; false when the label is missing or no number
// follows it.
bool NumberAfter(const std::string& text, const std::string& label, size_t from, uint64_t* value) {
  const size_t at = text.find(label, from);
  if (at == std::string::npos) return false;
  const size_t start = at + label.size();
  const size_t end = text.find_first_of(" \r\n", start);
  return common::ParseDecimal(std::string_view(text).substr(start, end - start), INT32_MAX, value);
}

// The status each failed or short read must be reported with, in call order,
// from the simulator's call log.
std::vector<int> FailedReadsInLog(const std::string& path) {
  std::vector<int> statuses;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("FT4222_SPISlave_Read ", 0) != 0) continue;
    uint64_t size = 0, status = 0, read = 0;
    const size_t arrow = line.find(" -> ");
    if (!NumberAfter(line, " size=", 0, &size) || !NumberAfter(line, " -> ", 0, &status)) {
      ADD_FAILURE() << "a read the call log does not give as expected: " << line;
      continue;
    }
    NumberAfter(line, " read=", arrow, &read);  // only a successful read has one
    if (status != 0) {
      statuses.push_back(static_cast<int>(status));
    } else if (read < size) {
      statuses.push_back(0);
    }
  }
  return statuses;
}

std::vector<int> FailedReadsPrinted(const std::string& out) {
  static const std::string kText = "FT4222_SPISlave_Read error ft4222_status=";
  std::vector<int> statuses;
  for (size_t at = out.find(kText); at != std::string::npos; at = out.find(kText, at + 1)) {
    uint64_t status = 0;
    if (!NumberAfter(out, kText, at, &status)) ADD_FAILURE() << "no status after " << out.substr(at, 60);
    statuses.push_back(static_cast<int>(status));
  }
  return statuses;
}

struct FaultOutcome {
  RunResult result;
  std::map<std::string, uint64_t> stats;
  FrameStreamCheck check;
  bool walked = false;
  std::string walkError;
  std::vector<int> logged;
  std::vector<int> printed;
};

TEST(DeviceFaults, ReceiverKeepsRecordingOnlyWhatWasSentAndReportsEveryFailedRead) {
  const int seconds = Scaled(30, 5);
  const uint64_t seed = ReliabilitySeed();
  const std::string dir = MakeScratchDir("spi_faults");
  ASSERT_FALSE(dir.empty());
  constexpr size_t kRuns = sizeof kFaultRuns / sizeof kFaultRuns[0];
  std::vector<FaultOutcome> outcomes(kRuns);

  ParallelFor(kRuns, static_cast<int>(kRuns), [&](size_t i) {
    const FaultRun& run = kFaultRuns[i];
    const std::string base = dir + "/run" + std::to_string(i);
    sim::FrameShape shape;
    shape.seed = seed + i;
    shape.minLength = run.minLength;
    shape.maxLength = run.maxLength;
    shape.nonJShare = 0.02;
    RunOptions options;
    options.program = ReceiverPath();
    options.args = {base + ".bin"};
    options.env = {{"SPI_SIM", run.source + ";nonj=0.02;seed=" + std::to_string(shape.seed) +
                                   ";frame=" + std::to_string(run.minLength) + "-" +
                                   std::to_string(run.maxLength) + run.faults},
                   {"SPI_SIM_SCENARIO", ""},
                   {"SPI_SIM_LOG", base + ".log"},
                   {"SPI_SIM_STATS", base + ".stats"}};
    options.interruptAfterMs = seconds * 1000;
    options.timeoutMs = seconds * 1000 + 60000;
    FaultOutcome& outcome = outcomes[i];
    outcome.result = RunProgram(options);
    outcome.stats = ReadStats(base + ".stats");
    outcome.logged = FailedReadsInLog(base + ".log");
    outcome.printed = FailedReadsPrinted(outcome.result.out);
    InitFrameStreamCheck(shape, run.expectation, &outcome.check);
    outcome.walked = CheckCaptureFile(base + ".bin", &outcome.check, &outcome.walkError);
    std::remove((base + ".bin").c_str());
  });
  RemoveTree(dir);

  uint64_t injected = 0, shortReads = 0, delayed = 0, dropped = 0, bytes = 0, records = 0;
  for (size_t i = 0; i < kRuns; ++i) {
    const FaultRun& run = kFaultRuns[i];
    const FaultOutcome& outcome = outcomes[i];
    SCOPED_TRACE(run.name);
    const RunResult& result = outcome.result;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1) << DescribeRun(result);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(EndsWithClosingText(result.out)) << DescribeRun(result);
    EXPECT_TRUE(outcome.walked) << outcome.walkError;

    // Kept recording to the end: a status line every second, and frames
    // stored from the last stretch of the run.
    EXPECT_GE(StatusLines(result.out).size(), static_cast<size_t>(seconds - 2));
    const uint64_t sent = outcome.stats.count("frames_generated") ? outcome.stats.at("frames_generated") : 0;
    EXPECT_GT(outcome.check.records, 0u);
    // Frames the master sent in the last 1.5 s may all be lost or pending.
    const double recentShare = 1.5 / seconds;
    EXPECT_GE(static_cast<double>(outcome.check.nextSeq), static_cast<double>(sent) * (1 - recentShare))
        << "no frame stored from the last stretch of the run";
    if (run.oneFramePerRead) {
      EXPECT_EQ(outcome.check.records, outcome.check.frames + outcome.check.restRecords);
    }

    // Every failed or short read reported, in order; the last one may have
    // been cut off by the interrupt.
    EXPECT_GT(outcome.logged.size(), 0u);
    EXPECT_LE(outcome.printed.size(), outcome.logged.size());
    EXPECT_GE(outcome.printed.size() + 1, outcome.logged.size());
    const size_t common = std::min(outcome.printed.size(), outcome.logged.size());
    EXPECT_TRUE(std::equal(outcome.printed.begin(),
                           outcome.printed.begin() + static_cast<std::ptrdiff_t>(common),
                           outcome.logged.begin()))
        << "the printed read errors differ from the failed reads";

    auto stat = [&](const char* key) { return outcome.stats.count(key) ? outcome.stats.at(key) : 0; };
    EXPECT_GT(stat("injected_failures"), 0u);
    EXPECT_GT(stat("short_reads"), 0u);
    EXPECT_GT(stat("delayed_calls"), 0u);
    // A record may start with the rest of a frame only after a short read.
    EXPECT_LE(outcome.check.restRecords, stat("short_reads"));
    if (run.overflows) {
      EXPECT_GT(stat("bytes_dropped"), 0u);
    }
    injected += stat("injected_failures");
    shortReads += stat("short_reads");
    delayed += stat("delayed_calls");
    dropped += stat("bytes_dropped");
    bytes += outcome.check.bytes;
    records += outcome.check.records;
    PrintFigure(std::string(run.name) + ": " + std::to_string(stat("calls")) + " calls, " +
                std::to_string(stat("injected_failures")) + " failed, " +
                std::to_string(stat("short_reads")) + " short reads, " +
                std::to_string(stat("delayed_calls")) + " delayed, " + std::to_string(stat("bytes_dropped")) +
                " bytes lost to overflow; " + std::to_string(outcome.check.records) + " records, " +
                std::to_string(outcome.check.frames) + " whole and " +
                std::to_string(outcome.check.cutFrames) + " cut frames verified, " +
                std::to_string(outcome.check.restRecords) + " records led by the rest of a short read");
  }
  PrintFigure("device faults: seed " + std::to_string(seed) + ", " + std::to_string(kRuns) + " runs of " +
              std::to_string(seconds) + " s, " + std::to_string(injected) + " failed calls + " +
              std::to_string(shortReads) + " short reads + " + std::to_string(delayed) +
              " delayed calls injected, " + std::to_string(dropped) + " bytes lost to overflow; " +
              std::to_string(records) + " records, " + std::to_string(bytes) + " bytes verified");
}

}  // namespace
