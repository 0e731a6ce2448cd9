// The interrupt storm: many recordings, each ended by a stop request (SIGINT,
// SIGTERM or SIGHUP) at a random moment, from the first milliseconds through
// selection, set-up, the pause after a failed search and the recording
// itself. Every one must close with the closing text and status 1, and leave
// either no capture or a capture that is an exact prefix of what the master
// sent.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>

#include "frame_check.h"
#include "run_support.h"
#include "stalling_fifo.h"

namespace {

enum class Moment { kStart, kSetUp, kPause, kRecording };

const char* SignalName(int signal) {
  return signal == SIGTERM ? "TERM" : signal == SIGHUP ? "HUP" : "INT";
}

const char* MomentName(Moment moment) {
  switch (moment) {
    case Moment::kStart:
      return "start";
    case Moment::kSetUp:
      return "set-up";
    case Moment::kPause:
      return "pause";
    case Moment::kRecording:
      return "recording";
  }
  return "?";
}

// Set-up calls held up a little, so that interrupts land inside them.
const char kSlowSetUp[] =
    ";devices=B0000001,!C0000002,A0000003"
    ";delay=FT_CreateDeviceInfoList:0-3;delay=FT_GetDeviceInfoDetail:0-3;delay=FT_Open:0-3"
    ";delay=FT4222_SetClock:0-3;delay=FT_SetTimeouts:0-3;delay=FT_SetLatencyTimer:0-3"
    ";delay=FT_SetUSBParameters:0-3;delay=FT4222_SPISlave_Init:0-3"
    ";delay=FT4222_SPI_SetDrivingStrength:0-3;delay=FT4222_SetEventNotification:0-3";

struct StormRun {
  Moment moment = Moment::kStart;
  int signal = SIGINT;
  uint64_t seed = 0;
  int delayMs = 0;  // after the trigger text
  std::string trigger;
  std::string scenario;
};

struct StormOutcome {
  RunResult result;
  bool captured = false;  // a capture file was left
  FrameStreamCheck check;
  std::string failure;  // empty when the run kept every promise
};

sim::FrameShape StormShape(uint64_t seed) {
  sim::FrameShape shape;
  shape.seed = seed;
  shape.minLength = 1;
  shape.maxLength = 65535;
  shape.nonJShare = 0.01;
  return shape;
}

std::vector<StormRun> PlanStorm(int total, std::mt19937_64* random) {
  // Shares of the moments: the recording gets the most, the pause (which
  // costs seconds) the fewest.
  const int start = total / 8;
  const int setUp = total / 8;
  const int pause = total * 3 / 32;
  const int recording = total - start - setUp - pause;
  // Recordings stopped the way headless ones are, by SIGTERM, in 10 of 21;
  // SIGINT and SIGHUP share the rest, and every other moment.
  const int terminated = recording * 10 / 21;
  const int otherSignals[] = {SIGINT, SIGHUP, SIGTERM};
  std::vector<StormRun> runs(static_cast<size_t>(total));
  for (int i = 0; i < total; ++i) {
    StormRun& run = runs[static_cast<size_t>(i)];
    run.seed = (*random)();
    run.scenario = "pacing=lockstep;frame=1-65535;nonj=0.01;seed=" + std::to_string(run.seed);
    run.signal = otherSignals[i % 3];
    if (i < start) {
      run.moment = Moment::kStart;
      run.trigger = "=====";  // the banner's first line: the handler is in place
      run.delayMs = std::uniform_int_distribution<int>(0, 3)(*random);
    } else if (i < start + setUp) {
      run.moment = Moment::kSetUp;
      run.trigger = "=====";
      run.delayMs = std::uniform_int_distribution<int>(0, 40)(*random);
      run.scenario += kSlowSetUp;
    } else if (i < start + setUp + pause) {
      run.moment = Moment::kPause;
      run.trigger = "Program will quit in 5 sec....\n";
      run.delayMs = std::uniform_int_distribution<int>(0, 4900)(*random);
      run.scenario += ";devices=";
    } else {
      run.moment = Moment::kRecording;
      run.trigger = "start receiving spi data";
      run.delayMs = std::uniform_int_distribution<int>(0, 150)(*random);
      const int r = i - (start + setUp + pause);
      run.signal = r < terminated ? SIGTERM : otherSignals[r % 2];
    }
  }
  std::shuffle(runs.begin(), runs.end(), *random);
  return runs;
}

void CheckRun(const StormRun& run, const std::string& capturePath, StormOutcome* outcome) {
  const RunResult& result = outcome->result;
  std::string& failure = outcome->failure;
  if (result.timedOut || result.termSignal != 0 || result.exitCode != 1 || !result.err.empty() ||
      !result.interrupted) {
    failure = "did not end as interrupted: " + DescribeRun(result);
    return;
  }
  if (!EndsWithClosingText(result.out) ||
      result.out.find("Program closing") != result.out.rfind("Program closing")) {
    failure = "console does not end with the closing text once: " + DescribeRun(result);
    return;
  }
  if (run.moment == Moment::kPause &&
      result.out.find("Program will quit in 5 sec....\n") == std::string::npos) {
    failure = "the pause was not reached: " + DescribeRun(result);
    return;
  }
  std::error_code code;
  outcome->captured = std::filesystem::exists(capturePath, code);
  if (!outcome->captured) return;
  if (result.out.find("start receiving spi data") == std::string::npos) {
    failure = "a capture file exists although recording never began";
    return;
  }
  std::string error;
  InitFrameStreamCheck(StormShape(run.seed), CaptureExpectation::kExactPrefix, &outcome->check);
  if (!CheckCaptureFile(capturePath, &outcome->check, &error)) failure = error;
}

TEST(InterruptStorm, EveryStopRequestClosesCleanlyAndLeavesAnExactPrefix) {
  const int total = Scaled(320, 32);
  const uint64_t seed = ReliabilitySeed();
  std::mt19937_64 random(seed);
  const std::vector<StormRun> runs = PlanStorm(total, &random);
  const std::string dir = MakeScratchDir("spi_storm");
  ASSERT_FALSE(dir.empty());
  std::vector<StormOutcome> outcomes(runs.size());

  // Four at a time: the paused ones sleep, the recording ones share the cores.
  ParallelFor(runs.size(), 4, [&](size_t i) {
    const StormRun& run = runs[i];
    const std::string capturePath = dir + "/run" + std::to_string(i) + ".bin";
    RunOptions options;
    options.program = ReceiverPath();
    options.args = {capturePath};
    options.env = {
        {"SPI_SIM", run.scenario}, {"SPI_SIM_SCENARIO", ""}, {"SPI_SIM_LOG", ""}, {"SPI_SIM_STATS", ""}};
    options.interruptSignal = run.signal;
    options.interruptOnOutput = run.trigger;
    options.interruptDelayMs = run.delayMs;
    options.timeoutMs = 60000;
    outcomes[i].result = RunProgram(options);
    CheckRun(run, capturePath, &outcomes[i]);
    std::remove(capturePath.c_str());
  });
  RemoveTree(dir);

  std::map<std::string, int> perMoment;
  std::vector<double> exitSeconds;
  uint64_t captures = 0, records = 0, bytes = 0;
  int failures = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const StormOutcome& outcome = outcomes[i];
    if (!outcome.failure.empty()) {
      ++failures;
      ADD_FAILURE() << "run " << i << " (" << MomentName(runs[i].moment) << ", seed " << runs[i].seed << ", "
                    << strsignal(runs[i].signal) << " " << runs[i].delayMs << " ms after '" << runs[i].trigger
                    << "'): " << outcome.failure;
      continue;
    }
    ++perMoment[std::string(MomentName(runs[i].moment)) + "/" + SignalName(runs[i].signal)];
    exitSeconds.push_back(outcome.result.secondsAfterInterrupt);
    if (outcome.captured) {
      ++captures;
      records += outcome.check.records;
      bytes += outcome.check.bytes;
    }
  }
  std::string moments;
  for (const auto& [name, count] : perMoment) moments += " " + name + "=" + std::to_string(count);
  PrintFigure("interrupt storm: seed " + std::to_string(seed) + ", " + std::to_string(runs.size()) +
              " stop requests, " + std::to_string(runs.size() - static_cast<size_t>(failures)) +
              " survived (" + moments + " )");
  PrintFigure("interrupt storm: " + std::to_string(captures) + " captures verified, " +
              std::to_string(records) + " records, " + std::to_string(bytes) +
              " frame bytes compared with the generator");
  char line[160];
  std::snprintf(line, sizeof line, "signal to exit: median %.2f ms, 90%% %.2f ms, worst %.2f ms",
                Quantile(exitSeconds, 0.5) * 1000, Quantile(exitSeconds, 0.9) * 1000,
                Quantile(exitSeconds, 1.0) * 1000);
  PrintFigure(line);
  EXPECT_EQ(failures, 0);
}

// The storm once more with a disk that stalls for 100..500 ms after every second of work
// (a FIFO whose reader stops reading), the stop request coming at a random
// moment of the recording: the loop leaves at once, and every record handed
// over is written out when the disk comes back, before the closing text.
TEST(InterruptStorm, AStopRequestWhileTheDiskStallsLeavesAnExactPrefix) {
  const int total = Scaled(40, 8);
  std::mt19937_64 random(ReliabilitySeed() + 2);
  std::vector<StormRun> runs(static_cast<size_t>(total));
  std::vector<int> stallMs(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    runs[i].moment = Moment::kRecording;
    runs[i].signal = i % 2 == 0 ? SIGTERM : SIGINT;
    runs[i].seed = random();
    runs[i].trigger = "start receiving spi data";
    runs[i].delayMs = std::uniform_int_distribution<int>(0, 1500)(random);
    stallMs[i] = std::uniform_int_distribution<int>(100, 500)(random);
  }
  const std::string dir = MakeScratchDir("spi_storm_stall");
  ASSERT_FALSE(dir.empty());
  std::vector<StormOutcome> outcomes(runs.size());
  std::vector<int> stalls(runs.size());
  ParallelFor(runs.size(), 4, [&](size_t i) {
    const std::string runDir = dir + "/run" + std::to_string(i);
    std::filesystem::create_directories(runDir);
    bench::StallingFifo fifo;
    bench::StallPlan plan;
    plan.afterBytes = 256 << 10;
    plan.stallMs = stallMs[i];
    plan.workMs = 1000;
    if (!bench::StartStallingFifo(runDir, plan, &fifo, &outcomes[i].failure)) return;
    RunOptions options;
    options.program = ReceiverPath();
    options.args = {fifo.path};
    options.env = {
        {"SPI_SIM", "pacing=lockstep;frame=1-65535;nonj=0.01;seed=" + std::to_string(runs[i].seed)},
        {"SPI_SIM_SCENARIO", ""},
        {"SPI_SIM_LOG", ""},
        {"SPI_SIM_STATS", ""}};
    options.interruptSignal = runs[i].signal;
    options.interruptOnOutput = runs[i].trigger;
    options.interruptDelayMs = runs[i].delayMs;
    options.timeoutMs = 60000;
    outcomes[i].result = RunProgram(options);
    bench::FinishStallingFifo(&fifo);
    stalls[i] = fifo.stalls;
    CheckRun(runs[i], fifo.copyPath, &outcomes[i]);
    RemoveTree(runDir);
  });
  RemoveTree(dir);

  std::vector<double> exitSeconds;
  uint64_t records = 0, stalled = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(outcomes[i].failure, "")
        << "run " << i << " (seed " << runs[i].seed << ", " << strsignal(runs[i].signal) << " "
        << runs[i].delayMs << " ms into the recording, stalls of " << stallMs[i] << " ms)";
    exitSeconds.push_back(outcomes[i].result.secondsAfterInterrupt);
    records += outcomes[i].check.records;
    stalled += static_cast<uint64_t>(stalls[i]);
  }
  char line[200];
  std::snprintf(
      line, sizeof line,
      "stalling disk: %zu stop requests, %llu stalls, %llu records verified; signal to exit: median "
      "%.2f ms, 90%% %.2f ms, worst %.2f ms",
      runs.size(), static_cast<unsigned long long>(stalled), static_cast<unsigned long long>(records),
      Quantile(exitSeconds, 0.5) * 1000, Quantile(exitSeconds, 0.9) * 1000,
      Quantile(exitSeconds, 1.0) * 1000);
  PrintFigure(line);
}

// A recording whose standard output was closed (a pipeline's reader gone)
// ends by SIGPIPE at its next print. A stop request in that moment makes the
// interrupt's own print the one that ends it, possibly while the main thread
// is writing a record: the capture must still end on a record boundary.
TEST(InterruptStorm, AStopRequestAfterStandardOutputClosedStillLeavesAWholeCapture) {
  const int total = Scaled(40, 8);
  std::mt19937_64 random(ReliabilitySeed() + 1);
  const std::string dir = MakeScratchDir("spi_storm_pipe");
  ASSERT_FALSE(dir.empty());
  std::vector<std::string> failures(static_cast<size_t>(total));
  std::vector<uint64_t> seeds(static_cast<size_t>(total));
  std::vector<int> delays(static_cast<size_t>(total));
  for (size_t i = 0; i < seeds.size(); ++i) {
    seeds[i] = random();
    delays[i] = std::uniform_int_distribution<int>(0, 30)(random);
  }
  std::vector<int> endedByPipe(static_cast<size_t>(total));
  ParallelFor(seeds.size(), 4, [&](size_t i) {
    const std::string capturePath = dir + "/run" + std::to_string(i) + ".bin";
    RunOptions options;
    options.program = ReceiverPath();
    options.args = {capturePath};
    options.env = {{"SPI_SIM", "pacing=lockstep;frame=1-65535;nonj=0.01;seed=" + std::to_string(seeds[i])},
                   {"SPI_SIM_SCENARIO", ""},
                   {"SPI_SIM_LOG", ""},
                   {"SPI_SIM_STATS", ""}};
    // After the first status line, the next print is a second away.
    options.closeOutputOn = "Transfer Speed";
    options.interruptSignal = SIGTERM;
    options.interruptOnOutput = options.closeOutputOn;
    options.interruptDelayMs = delays[i];
    options.timeoutMs = 60000;
    const RunResult result = RunProgram(options);
    endedByPipe[i] = result.termSignal == SIGPIPE;
    if (result.timedOut || !result.err.empty() || (result.exitCode != 1 && result.termSignal != SIGPIPE)) {
      failures[i] = "ended neither by the stop request nor by SIGPIPE: " + DescribeRun(result);
    } else if (std::filesystem::exists(capturePath)) {  // none when the request came before recording
      FrameStreamCheck check;
      InitFrameStreamCheck(StormShape(seeds[i]), CaptureExpectation::kExactPrefix, &check);
      std::string error;
      if (!CheckCaptureFile(capturePath, &check, &error)) failures[i] = error;
    }
    std::remove(capturePath.c_str());
  });
  RemoveTree(dir);
  int pipeEnds = 0;
  for (size_t i = 0; i < failures.size(); ++i) {
    pipeEnds += endedByPipe[i];
    EXPECT_EQ(failures[i], "") << "run " << i << " (seed " << seeds[i] << ", SIGTERM " << delays[i]
                               << " ms after standard output was closed)";
  }
  PrintFigure("closed standard output: " + std::to_string(total) + " runs, " + std::to_string(pipeEnds) +
              " ended by SIGPIPE, the rest by SIGTERM");
}

}  // namespace
