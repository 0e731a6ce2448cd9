// Benchmarks the receiver (build/spi-receiver) against the simulated
// bridge, and a minimal writer (baseline_writer) as the baseline:
//   1. lockstep, every frame its own pass, at 64 B .. 65535 B frames,
//      receiver and baseline alternating in short rounds;
//   2. a stream at the USB 2.0 ceiling (53.248 MB/s of 4 KiB frames);
//   3. coalescing: an unlimited stream, reads of up to 65535 bytes;
//   4. a soak (resident memory at start and end) and a memcheck run;
//   5. a disk that stalls for S ms after every second of work, at 4 MB/s and at the USB
//      ceiling: frames the bridge lost, memory, and how fast a stop request
//      ends the run; also with both cores busy.
// Prints the figures, writes them as CSV, and ends with one
// "ratio SIZE RECEIVER/BASELINE" line per frame size (median of the rounds).
//   receiver_bench [--dir DIR] [--csv PATH] [--seconds S] [--rounds N]
//                  [--soak] [--soak-seconds S] [--no-valgrind] [--receiver PATH]
//                  [--stall-seconds S] [--only-stalls]
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "child_run.h"
#include "decimal_number.h"
#include "stalling_fifo.h"

namespace {

namespace fs = std::filesystem;
using bench::ChildFigures;
using bench::ChildPlan;

constexpr uint32_t kFrameSizes[] = {64, 512, 4096, 16384, 65535};
// USB 2.0 high speed bulk: 13 packets of 512 bytes per 125 us microframe.
constexpr uint64_t kUsbCeilingBytesPerSecond = 13ull * 512 * 8000;
constexpr uint64_t kMaxRounds = 1000;
constexpr double kMaxSeconds = 86400;

struct Options {
  std::string dir;  // where the captures are written (and removed)
  std::string csvPath;
  std::string receiver;
  std::string baseline;
  double seconds = 1.5;  // one round's measured window
  int rounds = 3;
  double soakSeconds = 15;
  bool valgrind = true;
  double stallSeconds = 6;  // one stall case's recording
  bool onlyStalls = false;
};

struct SizeResult {
  uint32_t frameBytes = 0;
  std::vector<ChildFigures> receiver;
  std::vector<ChildFigures> baseline;
};

struct CsvRow {
  std::string section;
  uint32_t frameBytes = 0;
  std::string program;
  std::string round;
  double mbps = 0;
  double recordsPerSecond = 0;
  double cpuSecondsPerGB = 0;
  uint64_t peakRssKiB = 0;
  double ratio = NAN;
  double cpuSharePercent = NAN;
  int64_t bytesDropped = -1;
};

std::string ProgramDirectory() {
  std::error_code code;
  const fs::path self = fs::read_symlink("/proc/self/exe", code);
  return code ? std::string(".") : self.parent_path().string();
}

bool ParseOptions(int argc, char** argv, Options* options) {
  const std::string programDir = ProgramDirectory();
  options->dir = programDir + "/bench-files";
  options->csvPath = programDir + "/receiver_bench.csv";
  options->receiver = programDir + "/spi-receiver";
  options->baseline = programDir + "/baseline_writer";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--dir" && hasValue) {
      options->dir = argv[++i];
    } else if (arg == "--csv" && hasValue) {
      options->csvPath = argv[++i];
    } else if (arg == "--receiver" && hasValue) {
      options->receiver = argv[++i];
    } else if (arg == "--seconds" && hasValue) {
      if (!common::ParseDecimalFraction(argv[++i], kMaxSeconds, &options->seconds)) return false;
    } else if (arg == "--rounds" && hasValue) {
      uint64_t rounds = 0;
      if (!common::ParseDecimal(argv[++i], kMaxRounds, &rounds)) return false;
      options->rounds = static_cast<int>(rounds);
    } else if (arg == "--soak-seconds" && hasValue) {
      if (!common::ParseDecimalFraction(argv[++i], kMaxSeconds, &options->soakSeconds)) return false;
    } else if (arg == "--soak") {
      options->soakSeconds = 60;
    } else if (arg == "--no-valgrind") {
      options->valgrind = false;
    } else if (arg == "--stall-seconds" && hasValue) {
      if (!common::ParseDecimalFraction(argv[++i], kMaxSeconds, &options->stallSeconds)) return false;
    } else if (arg == "--only-stalls") {
      options->onlyStalls = true;
    } else {
      return false;
    }
  }
  return options->seconds > 0 && options->rounds > 0 && options->soakSeconds > 0 && options->stallSeconds > 0;
}

double RecordsPerSecond(const ChildFigures& figures, uint32_t frameBytes) {
  return figures.WindowMBps() * 1e6 / (frameBytes + 2);
}

ChildPlan ReceiverPlan(const Options& options, const std::string& scenario, const std::string& name) {
  ChildPlan plan;
  plan.capturePath = options.dir + "/" + name + ".bin";
  plan.argv = {options.receiver, plan.capturePath};
  plan.env = {"SPI_SIM=" + scenario, "SPI_SIM_STATS=" + options.dir + "/" + name + ".stats"};
  plan.outputPath = options.dir + "/" + name + ".out";
  plan.windowSeconds = options.seconds;
  return plan;
}

std::string LockstepScenario(uint32_t frameBytes) {
  return "pacing=lockstep;nonj=0;frame=" + std::to_string(frameBytes);
}

// Runs one program once and removes its capture; complains when it did not
// end as it should or (for fixed frames) left a torn record.
ChildFigures RunOnce(const ChildPlan& plan, int expectedExit, uint32_t recordBytes) {
  ChildFigures figures = bench::RunChild(plan);
  if (!figures.ok) {
    std::fprintf(stderr, "%s\n", figures.error.c_str());
  } else if (figures.exitStatus != expectedExit) {
    std::fprintf(stderr, "%s exited with %d, expected %d\n", plan.argv[0].c_str(), figures.exitStatus,
                 expectedExit);
    figures.ok = false;
  } else if (recordBytes != 0 && figures.fileBytes % recordBytes != 0) {
    std::fprintf(stderr, "%s: %" PRIu64 " bytes is not a whole number of %u-byte records\n",
                 plan.capturePath.c_str(), figures.fileBytes, recordBytes);
    figures.ok = false;
  }
  std::remove(plan.capturePath.c_str());
  return figures;
}

std::vector<SizeResult> RunLockstepRounds(const Options& options) {
  std::vector<SizeResult> results;
  for (uint32_t size : kFrameSizes) {
    results.push_back(SizeResult{});
    results.back().frameBytes = size;
  }
  for (int round = 0; round < options.rounds; ++round) {
    for (SizeResult& result : results) {
      const uint32_t n = result.frameBytes;
      std::fprintf(stderr, "\rlockstep round %d/%d, %5u-byte frames   ", round + 1, options.rounds, n);
      const ChildPlan receiver = ReceiverPlan(options, LockstepScenario(n), "lockstep");
      result.receiver.push_back(RunOnce(receiver, 1, n + 2));
      ChildPlan baseline = receiver;
      baseline.capturePath = options.dir + "/baseline.bin";
      baseline.argv = {options.baseline, baseline.capturePath, std::to_string(n)};
      baseline.env.clear();
      baseline.outputPath = options.dir + "/baseline.out";
      result.baseline.push_back(RunOnce(baseline, 0, n + 2));
    }
  }
  std::fprintf(stderr, "\n");
  return results;
}

double MedianOf(const std::vector<ChildFigures>& runs, double (*figure)(const ChildFigures&)) {
  std::vector<double> values;
  for (const ChildFigures& run : runs) {
    if (run.ok) values.push_back(figure(run));
  }
  return bench::Median(values);
}

double Mbps(const ChildFigures& f) {
  return f.WindowMBps();
}
double CpuPerGB(const ChildFigures& f) {
  return f.CpuSecondsPerGB();
}

uint64_t PeakRss(const std::vector<ChildFigures>& runs) {
  uint64_t peak = 0;
  for (const ChildFigures& run : runs) peak = run.peakRssKiB > peak ? run.peakRssKiB : peak;
  return peak;
}

double MedianRatio(const SizeResult& result) {
  std::vector<double> ratios;
  for (size_t i = 0; i < result.receiver.size(); ++i) {
    const ChildFigures& a = result.receiver[i];
    const ChildFigures& b = result.baseline[i];
    if (a.ok && b.ok && b.WindowMBps() > 0) ratios.push_back(a.WindowMBps() / b.WindowMBps());
  }
  return ratios.empty() ? NAN : bench::Median(ratios);
}

void AddLockstepRows(const std::vector<SizeResult>& results, std::vector<CsvRow>* rows) {
  for (const SizeResult& result : results) {
    const uint32_t n = result.frameBytes;
    for (size_t i = 0; i < result.receiver.size(); ++i) {
      for (int which = 0; which < 2; ++which) {
        const ChildFigures& f = which == 0 ? result.receiver[i] : result.baseline[i];
        if (!f.ok) continue;
        rows->push_back(CsvRow{"lockstep", n, which == 0 ? "receiver" : "baseline", std::to_string(i + 1),
                               f.WindowMBps(), RecordsPerSecond(f, n), f.CpuSecondsPerGB(), f.peakRssKiB});
      }
    }
    for (int which = 0; which < 2; ++which) {
      const std::vector<ChildFigures>& runs = which == 0 ? result.receiver : result.baseline;
      const double mbps = MedianOf(runs, Mbps);
      CsvRow row{"lockstep",
                 n,
                 which == 0 ? "receiver" : "baseline",
                 "median",
                 mbps,
                 mbps * 1e6 / (n + 2),
                 MedianOf(runs, CpuPerGB),
                 PeakRss(runs)};
      if (which == 0) row.ratio = MedianRatio(result);
      rows->push_back(row);
    }
  }
}

void PrintLockstepTable(const Options& options, const std::vector<SizeResult>& results) {
  std::printf(
      "\nLockstep: every frame its own pass (median of %d rounds of %.1f s, receiver and baseline "
      "alternating)\n",
      options.rounds, options.seconds);
  std::printf("%8s | %13s %12s %10s %13s | %13s %10s %13s | %6s\n", "frame B", "receiver MB/s", "records/s",
              "CPU s/GB", "peak RSS MiB", "baseline MB/s", "CPU s/GB", "peak RSS MiB", "ratio");
  for (const SizeResult& r : results) {
    const double mbps = MedianOf(r.receiver, Mbps);
    std::printf("%8u | %13.1f %12.0f %10.3f %13.2f | %13.1f %10.3f %13.2f | %6.3f\n", r.frameBytes, mbps,
                mbps * 1e6 / (r.frameBytes + 2), MedianOf(r.receiver, CpuPerGB), PeakRss(r.receiver) / 1024.0,
                MedianOf(r.baseline, Mbps), MedianOf(r.baseline, CpuPerGB), PeakRss(r.baseline) / 1024.0,
                MedianRatio(r));
  }
}

uint64_t StatOrZero(const std::string& statsPath, const std::string& key) {
  uint64_t value = 0;
  bench::StatsValue(bench::ReadTextFile(statsPath), key, &value);
  return value;
}

void RunFixedRate(const Options& options, std::vector<CsvRow>* rows) {
  const std::string scenario =
      "pacing=stream;nonj=0;frame=4096;rate=" + std::to_string(kUsbCeilingBytesPerSecond);
  ChildPlan plan = ReceiverPlan(options, scenario, "fixed_rate");
  plan.windowSeconds = 10;
  std::fprintf(stderr, "fixed rate: %.3f MB/s of 4096-byte frames for 10 s\n",
               kUsbCeilingBytesPerSecond / 1e6);
  // Reads coalesce when the receiver falls behind, so records vary in size.
  const ChildFigures f = RunOnce(plan, 1, 0);
  const std::string statsPath = plan.env[1].substr(plan.env[1].find('=') + 1);
  const uint64_t dropped = StatOrZero(statsPath, "bytes_dropped");
  const double share = f.lifeSeconds > 0 ? 100 * f.cpuSeconds / f.lifeSeconds : 0;
  std::printf("\nFixed rate: %.3f MB/s of 4096-byte frames for %.0f s\n", kUsbCeilingBytesPerSecond / 1e6,
              plan.windowSeconds);
  std::printf("  captured %.2f MB/s, CPU %.1f%% of one core (%.2f s in %.2f s), %" PRIu64
              " bytes dropped by the bridge, peak RSS %.2f MiB%s\n",
              f.WindowMBps(), share, f.cpuSeconds, f.lifeSeconds, dropped, f.peakRssKiB / 1024.0,
              f.ok ? "" : "  (RUN FAILED)");
  std::printf(
      "  in the window: process %.1f%%, of which the receive loop's thread %.1f%% and the simulated "
      "bridge's pacing thread the rest\n",
      100 * f.windowCpuSeconds / f.windowSeconds, 100 * f.windowMainThreadCpuSeconds / f.windowSeconds);
  CsvRow row{"fixed_rate",        4096,        "receiver", "1", f.WindowMBps(), RecordsPerSecond(f, 4096),
             f.CpuSecondsPerGB(), f.peakRssKiB};
  row.cpuSharePercent = share;
  row.bytesDropped = static_cast<int64_t>(dropped);
  rows->push_back(row);
}

void RunCoalescing(const Options& options, std::vector<CsvRow>* rows) {
  ChildPlan plan = ReceiverPlan(options, "pacing=stream;nonj=0;frame=4096;rate=unlimited", "coalescing");
  plan.windowSeconds = 2 * options.seconds;
  std::fprintf(stderr, "coalescing: unlimited stream of 4096-byte frames\n");
  const ChildFigures f = RunOnce(plan, 1, 0);
  const std::string statsPath = plan.env[1].substr(plan.env[1].find('=') + 1);
  const uint64_t reads = StatOrZero(statsPath, "reads");
  const uint64_t bytesRead = StatOrZero(statsPath, "bytes_read");
  const double meanRead = reads > 0 ? static_cast<double>(bytesRead) / reads : 0;
  const double recordsPerSecond = meanRead > 0 ? f.WindowMBps() * 1e6 / (meanRead + 2) : 0;
  std::printf("\nCoalescing: unlimited stream of 4096-byte frames, reads of up to 65535 bytes, %.1f s\n",
              plan.windowSeconds);
  std::printf(
      "  captured %.1f MB/s, %.0f records/s of %.0f bytes on average, CPU %.3f s/GB, peak RSS "
      "%.2f MiB%s\n",
      f.WindowMBps(), recordsPerSecond, meanRead, f.CpuSecondsPerGB(), f.peakRssKiB / 1024.0,
      f.ok ? "" : "  (RUN FAILED)");
  rows->push_back(CsvRow{"coalescing", 4096, "receiver", "1", f.WindowMBps(), recordsPerSecond,
                         f.CpuSecondsPerGB(), f.peakRssKiB});
}

// Full rate for a long time shows whether memory grows per pass. The capture
// goes to /dev/null so that a minute at full rate does not fill the disk.
void RunSoak(const Options& options, std::vector<CsvRow>* rows) {
  ChildPlan plan = ReceiverPlan(options, LockstepScenario(4096), "soak");
  plan.capturePath = "/dev/null";
  plan.argv[1] = plan.capturePath;
  plan.waitForFirstByte = false;
  plan.warmupSeconds = 1;
  plan.windowSeconds = options.soakSeconds;
  std::fprintf(stderr, "soak: lockstep 4096-byte frames at full rate for %.0f s\n", options.soakSeconds);
  const ChildFigures f = bench::RunChild(plan);
  const std::string statsPath = plan.env[1].substr(plan.env[1].find('=') + 1);
  const uint64_t bytesRead = StatOrZero(statsPath, "bytes_read");
  const int64_t growth = static_cast<int64_t>(f.rssEndKiB) - static_cast<int64_t>(f.rssStartKiB);
  std::printf("\nSoak: lockstep 4096-byte frames at full rate into /dev/null, %.0f s after a 1 s warm-up\n",
              options.soakSeconds);
  std::printf("  %.0f MB read (%.0f MB/s), resident %" PRIu64 " KiB at start, %" PRIu64
              " KiB at end (%+" PRId64 " KiB: %s), peak %" PRIu64 " KiB%s\n",
              bytesRead / 1e6, bytesRead / 1e6 / f.lifeSeconds, f.rssStartKiB, f.rssEndKiB, growth,
              growth <= 0 ? "flat" : "GREW", f.peakRssKiB, f.ok && f.exitStatus == 1 ? "" : "  (RUN FAILED)");
  CsvRow row{"soak", 4096, "receiver", "1", bytesRead / 1e6 / f.lifeSeconds, 0, 0, f.peakRssKiB};
  rows->push_back(row);
}

// The summary lines of a memcheck log, and whether they say clean.
bool MemcheckClean(const std::string& log, std::string* summary) {
  bool clean = log.find("ERROR SUMMARY: 0 errors") != std::string::npos;
  for (const char* kind : {"definitely lost:", "indirectly lost:", "possibly lost:"}) {
    const size_t at = log.find(kind);
    if (at == std::string::npos) continue;  // no such blocks at all
    const size_t end = log.find('\n', at);
    const std::string line = log.substr(at, end - at);
    *summary += "  " + line + "\n";
    if (line.find(" 0 bytes in 0 blocks") == std::string::npos) clean = false;
  }
  const size_t suppressed = log.find("suppressed:");
  if (suppressed != std::string::npos) {
    *summary += "  " + log.substr(suppressed, log.find('\n', suppressed) - suppressed) +
                " (blocks of threads alive at exit: the interrupt thread and its hold of a second request; "
                "bench/memcheck.supp)\n";
  }
  const size_t errors = log.find("ERROR SUMMARY:");
  if (errors != std::string::npos)
    *summary += "  " + log.substr(errors, log.find('\n', errors) - errors) + "\n";
  return clean;
}

void RunMemcheck(const Options& options) {
  ChildPlan plan = ReceiverPlan(options, LockstepScenario(4096), "memcheck");
  const std::string log = options.dir + "/memcheck.log";
  plan.argv = {"/usr/bin/valgrind",
               "--tool=memcheck",
               "--leak-check=full",
               "--show-leak-kinds=definite,indirect,possible",
               "--errors-for-leak-kinds=definite,indirect,possible",
               std::string("--suppressions=") + SPI_MEMCHECK_SUPPRESSIONS,
               "--error-exitcode=99",
               "--log-file=" + log,
               options.receiver,
               plan.capturePath};
  plan.startTimeoutSeconds = 60;
  plan.warmupSeconds = 0.5;
  plan.windowSeconds = 2;
  std::fprintf(stderr, "memcheck: a 2 s recording under valgrind\n");
  const ChildFigures f = RunOnce(plan, 1, 4098);
  std::string summary;
  const bool clean = MemcheckClean(bench::ReadTextFile(log), &summary);
  std::printf("\nMemcheck: lockstep 4096-byte frames, %.1f s recording (%.1f MB stored): %s\n",
              plan.windowSeconds, f.fileBytes / 1e6,
              f.ok && clean ? "no errors, no leaks" : "NOT CLEAN, see memcheck.log");
  std::printf("%s", summary.c_str());
}

struct StallCase {
  uint64_t rate;  // bytes per second
  int stallMs;    // after every second of work
  bool busyCores;
};

const StallCase kStallCases[] = {
    {4000000, 0, false},
    {4000000, 20, false},
    {4000000, 100, false},
    {4000000, 500, false},
    {4000000, 2000, false},
    {kUsbCeilingBytesPerSecond, 0, false},
    {kUsbCeilingBytesPerSecond, 20, false},
    {kUsbCeilingBytesPerSecond, 100, false},
    {kUsbCeilingBytesPerSecond, 500, false},
    {kUsbCeilingBytesPerSecond, 2000, false},  // more than the buffer holds
    {kUsbCeilingBytesPerSecond, 0, true},
};

// Keeps one core busy until told to stop, as another program would.
void SpinUntil(const std::atomic<bool>* stop) {
  volatile uint64_t spins = 0;
  while (!stop->load(std::memory_order_relaxed)) spins = spins + 1;
}

// Records case's stream into a FIFO whose reader stalls, for the option's
// seconds once the first data has come, then sends SIGINT.
void RunStallCase(const Options& options, const StallCase& stall, size_t index, std::vector<CsvRow>* rows) {
  using Clock = std::chrono::steady_clock;
  const std::string dir = options.dir + "/stall" + std::to_string(index);
  fs::create_directories(dir);
  bench::StallingFifo fifo;
  bench::StallPlan plan;
  plan.afterBytes = 1;
  plan.stallMs = stall.stallMs;
  plan.workMs = 1000;
  std::string error;
  if (!bench::StartStallingFifo(dir, plan, &fifo, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return;
  }
  std::atomic<bool> stopSpinning{false};
  std::vector<std::thread> spinners;
  for (int i = 0; stall.busyCores && i < 2; ++i) spinners.emplace_back(SpinUntil, &stopSpinning);
  const std::string statsPath = dir + "/stats.txt";
  const std::vector<std::string> env = {
      "SPI_SIM=pacing=stream;nonj=0;frame=4096;rate=" + std::to_string(stall.rate),
      "SPI_SIM_STATS=" + statsPath};
  int pid = 0;
  double cpuSeconds = 0;
  int exitStatus = -1;
  uint64_t peakKiB = 0;
  uint64_t endKiB = 0;
  double exitMs = -1;
  if (bench::StartProcess({options.receiver, fifo.path}, env, dir + "/out.txt", &pid, &error)) {
    while (fifo.copied == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::duration<double>(options.stallSeconds));
    const std::string status = bench::ReadTextFile("/proc/" + std::to_string(pid) + "/status");
    bench::StatusKiB(status, "VmHWM", &peakKiB);
    bench::StatusKiB(status, "VmRSS", &endKiB);
    const auto stopped = Clock::now();
    kill(pid, SIGINT);
    exitStatus = bench::WaitProcess(pid, &cpuSeconds);
    exitMs = std::chrono::duration<double, std::milli>(Clock::now() - stopped).count();
  } else {
    std::fprintf(stderr, "%s\n", error.c_str());
  }
  stopSpinning = true;
  for (std::thread& spinner : spinners) spinner.join();
  bench::FinishStallingFifo(&fifo);
  const uint64_t generated = StatOrZero(statsPath, "frames_generated");
  const uint64_t dropped = StatOrZero(statsPath, "frames_dropped");
  const bool reported =
      bench::ReadTextFile(dir + "/out.txt").find("The disk fell behind") != std::string::npos;
  std::printf("%8.3f | %5d ms %-5s | %8" PRIu64 " %8" PRIu64 " %7.2f %% | %5s | %8.2f %8.2f | %8.1f%s\n",
              stall.rate / 1e6, stall.stallMs, stall.busyCores ? "busy" : "", generated, dropped,
              generated > 0 ? 100.0 * dropped / generated : 0.0, reported ? "yes" : "no", peakKiB / 1024.0,
              endKiB / 1024.0, exitMs, exitStatus == 1 ? "" : "  (RUN FAILED)");
  CsvRow row{"stall_" + std::to_string(stall.stallMs) + (stall.busyCores ? "_busy" : ""),
             4096,
             "receiver",
             "1",
             stall.rate / 1e6,
             0,
             0,
             peakKiB};
  row.bytesDropped = static_cast<int64_t>(StatOrZero(statsPath, "bytes_dropped"));
  rows->push_back(row);
  fs::remove_all(dir);
}

void RunStalls(const Options& options, std::vector<CsvRow>* rows) {
  std::printf(
      "\nStalls: 4096-byte frames streamed into a disk that stalls for S ms after every second of work, %.0f "
      "s each\n",
      options.stallSeconds);
  std::printf("%8s | %-14s | %8s %8s %9s | %5s | %8s %8s | %8s\n", "MB/s", "stall", "frames", "lost", "lost",
              "full?", "peak MiB", "end MiB", "exit ms");
  for (size_t i = 0; i < sizeof kStallCases / sizeof kStallCases[0]; ++i) {
    std::fprintf(stderr, "\rstalls: case %zu of %zu   ", i + 1, sizeof kStallCases / sizeof kStallCases[0]);
    RunStallCase(options, kStallCases[i], i, rows);
    std::fflush(stdout);
  }
  std::fprintf(stderr, "\n");
}

bool WriteCsv(const std::string& path, const std::vector<CsvRow>& rows) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file,
               "section,frame_bytes,program,round,mb_per_s,records_per_s,cpu_s_per_gb,peak_rss_kib,ratio,"
               "cpu_share_percent,bytes_dropped\n");
  for (const CsvRow& r : rows) {
    std::fprintf(file, "%s,%u,%s,%s,%.2f,%.0f,%.4f,%" PRIu64 ",", r.section.c_str(), r.frameBytes,
                 r.program.c_str(), r.round.c_str(), r.mbps, r.recordsPerSecond, r.cpuSecondsPerGB,
                 r.peakRssKiB);
    if (!std::isnan(r.ratio)) std::fprintf(file, "%.4f", r.ratio);
    std::fprintf(file, ",");
    if (!std::isnan(r.cpuSharePercent)) std::fprintf(file, "%.2f", r.cpuSharePercent);
    std::fprintf(file, ",");
    if (r.bytesDropped >= 0) std::fprintf(file, "%" PRId64, r.bytesDropped);
    std::fprintf(file, "\n");
  }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(
        stderr,
        "usage: receiver_bench [--dir DIR] [--csv PATH] [--seconds S] [--rounds N] [--soak] "
        "[--soak-seconds S] [--no-valgrind] [--receiver PATH] [--stall-seconds S] [--only-stalls]\n");
    return 2;
  }
  std::error_code code;
  fs::create_directories(options.dir, code);
  for (const std::string& program : {options.receiver, options.baseline}) {
    if (access(program.c_str(), X_OK) != 0) {
      std::fprintf(stderr, "cannot run %s\n", program.c_str());
      return 1;
    }
  }
  std::vector<CsvRow> rows;
  if (options.onlyStalls) {
    RunStalls(options, &rows);
    return WriteCsv(options.csvPath, rows) ? 0 : 1;
  }
  const std::vector<SizeResult> lockstep = RunLockstepRounds(options);
  AddLockstepRows(lockstep, &rows);
  RunFixedRate(options, &rows);
  RunCoalescing(options, &rows);
  RunSoak(options, &rows);
  if (options.valgrind) RunMemcheck(options);
  RunStalls(options, &rows);

  PrintLockstepTable(options, lockstep);
  if (!WriteCsv(options.csvPath, rows)) std::fprintf(stderr, "cannot write %s\n", options.csvPath.c_str());
  std::printf("\nCSV: %s\n", options.csvPath.c_str());
  for (const SizeResult& result : lockstep)
    std::printf("ratio %u %.3f\n", result.frameBytes, MedianRatio(result));
  return 0;
}
