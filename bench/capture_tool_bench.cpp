// Measures spi-capture on a capture of 4 KiB frames in the page cache: how
// fast verify, info, slice, split, check, export (raw, csv, and csv of ten
// named fields) and repair
// get through it (each run as a process, the median of a few rounds), and
// what following a live recording at 53.248 MB/s costs in CPU.
//   capture_tool_bench [--dir DIR] [--mib N] [--rounds R] [--follow-seconds S]
//                      [--tool PATH] [--receiver PATH] [--no-follow]
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "capture_encoder.h"
#include "child_run.h"
#include "decimal_number.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kFrame = 4096;
constexpr uint64_t kMaxRounds = 1000;
constexpr double kMaxSeconds = 86400;

struct Options {
  std::string dir;
  uint64_t mib = 512;
  int rounds = 3;
  double followSeconds = 10;
  bool follow = true;
  std::string tool;
  std::string receiver;
};

// Frames as the simulated master sends them: 'J', the seq at bytes 1..8,
// then filler, so check --counter 1:8 has a counter to follow.
bool WriteCapture(const std::string& path, uint64_t bytes, uint64_t* written) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<uint8_t> frame(kFrame);
  for (size_t i = 0; i < kFrame; ++i) frame[i] = static_cast<uint8_t>(i * 7);
  frame[0] = 'J';
  std::vector<uint8_t> block;
  std::string error;
  bool ok = true;
  *written = 0;
  for (uint64_t seq = 0; ok && *written < bytes; ++seq) {
    for (int i = 0; i < 8; ++i) frame[1 + i] = static_cast<uint8_t>(seq >> (8 * i));
    ok = capture::EncodeCaptureRecord(frame.data(), frame.size(), &block, &error);
    if (block.size() >= (1u << 20)) {
      ok = ok && std::fwrite(block.data(), 1, block.size(), file) == block.size();
      *written += block.size();
      block.clear();
    }
  }
  return std::fclose(file) == 0 && ok;
}

struct Timed {
  bool ok = false;
  double seconds = 0;
};

Timed RunTool(const Options& options, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {options.tool};
  argv.insert(argv.end(), args.begin(), args.end());
  Timed timed;
  int pid = 0;
  std::string error;
  const Clock::time_point start = Clock::now();
  if (!bench::StartProcess(argv, {}, "/dev/null", &pid, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return timed;
  }
  double cpu = 0;
  const int status = bench::WaitProcess(pid, &cpu);
  timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  timed.ok = status == 0;
  if (!timed.ok) std::fprintf(stderr, "%s %s: status %d\n", options.tool.c_str(), args[0].c_str(), status);
  return timed;
}

void RemoveOutputs(const Options& options) {
  std::error_code code;
  for (const fs::directory_entry& entry : fs::directory_iterator(options.dir, code)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, 4, "out_") == 0 || name.compare(0, 5, "part_") == 0) fs::remove(entry.path(), code);
  }
}

bool MeasureCommands(const Options& options, const std::string& input, uint64_t bytes) {
  const std::string out = (fs::path(options.dir) / "out_").string();
  const std::vector<std::pair<const char*, std::vector<std::string>>> commands = {
      {"verify", {"verify", input}},
      {"info", {"info", input}},
      {"check", {"check", input, "--counter", "1:8"}},
      {"slice", {"slice", input, "--from", "1", "-o", out + "slice.cap"}},
      {"split", {"split", input, "--bytes", "67108864", "-o", (fs::path(options.dir) / "part").string()}},
      {"export raw", {"export", input, "--format", "raw", "-o", out + "frames.raw"}},
      {"export csv", {"export", input, "--format", "csv", "-o", out + "frames.csv"}},
      // Ten scalars of every kind, as a user names a frame's header.
      {"export fields",
       {"export", input, "--format", "csv", "-o", out + "fields.csv", "--fields",
        "seq=u64@1,a=u32@9,b=u16be@13,c=i16@15,d=f32@17,e=f64@21,f=i32be@29,g=u8@33,h=i64@34,k=f32be@42"}},
      {"repair", {"repair", input, "-o", out + "repaired.cap"}},
  };
  RunTool(options, {"verify", input});  // the input into the page cache
  std::printf("spi-capture on %.0f MB of 4096-byte frames in %s (median of %d rounds)\n", bytes / 1e6,
              options.dir.c_str(), options.rounds);
  for (const auto& command : commands) {
    std::vector<double> rates;
    for (int round = 0; round < options.rounds; ++round) {
      const Timed timed = RunTool(options, command.second);
      RemoveOutputs(options);
      if (!timed.ok) return false;
      rates.push_back(static_cast<double>(bytes) / timed.seconds / 1e6);
    }
    std::printf("  %-13s %8.0f MB/s\n", command.first, bench::Median(rates));
  }
  return true;
}

uint64_t SizeOf(const std::string& path) {
  std::error_code code;
  const uintmax_t size = fs::file_size(path, code);
  return code ? 0 : size;
}

struct Follower {
  int pid = 0;
  bool started = false;
  double cpu = 0;
  int status = -1;
};

Follower StartFollower(const Options& options, const std::string& live, const std::string& out) {
  Follower follower;
  std::string error;
  follower.started = bench::StartProcess({options.tool, "follow", live, "-o", out, "--idle-exit", "1"}, {},
                                         "/dev/null", &follower.pid, &error);
  if (!follower.started) std::fprintf(stderr, "%s\n", error.c_str());
  return follower;
}

// The real receiver records 4 KiB frames at 53.248 MB/s from the simulated
// bridge. Two followers run until a second after it stopped: one into a
// file beside the capture (its output must equal the capture), one into
// /dev/null (what following costs without the file system's share of
// writing). Their CPU time is set against the recording's length.
bool MeasureFollow(const Options& options) {
  const std::string live = (fs::path(options.dir) / "live.cap").string();
  const std::string followed = (fs::path(options.dir) / "followed.cap").string();
  std::remove(live.c_str());
  bench::ChildPlan plan;
  plan.argv = {options.receiver, live};
  plan.env = {"SPI_SIM=rate=53248000;frame=4096;nonj=0"};
  plan.outputPath = (fs::path(options.dir) / "receiver.out").string();
  plan.capturePath = live;
  plan.warmupSeconds = 0;
  plan.windowSeconds = options.followSeconds;
  bench::ChildFigures recording;
  std::thread receiver([&] { recording = bench::RunChild(plan); });
  const Clock::time_point start = Clock::now();
  while (SizeOf(live) == 0 && Clock::now() - start < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Follower toFile = StartFollower(options, live, followed);
  Follower toNull = StartFollower(options, live, "/dev/null");
  if (toFile.started) toFile.status = bench::WaitProcess(toFile.pid, &toFile.cpu);
  if (toNull.started) toNull.status = bench::WaitProcess(toNull.pid, &toNull.cpu);
  receiver.join();
  if (!toFile.started || !toNull.started || !recording.ok) {
    std::fprintf(stderr, "follow: %s\n", recording.error.c_str());
    return false;
  }
  const bool identical =
      SizeOf(followed) == SizeOf(live) && bench::ReadTextFile(followed) == bench::ReadTextFile(live);
  const double seconds = recording.lifeSeconds;
  std::printf("follow: the receiver recorded %.2f MB/s of 4096-byte frames for %.1f s (%" PRIu64 " bytes)\n",
              recording.WindowMBps(), seconds, SizeOf(live));
  std::printf("  into a file      %.2f s of CPU, %.2f%% of one core; status %d; output %s the capture\n",
              toFile.cpu, 100.0 * toFile.cpu / seconds, toFile.status,
              identical ? "identical to" : "DIFFERS from");
  std::printf("  into /dev/null   %.2f s of CPU, %.2f%% of one core; status %d\n", toNull.cpu,
              100.0 * toNull.cpu / seconds, toNull.status);
  std::remove(live.c_str());
  std::remove(followed.c_str());
  std::remove(plan.outputPath.c_str());
  return identical && toFile.status == 0 && toNull.status == 0;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  const fs::path self = fs::path(argv[0]).parent_path();
  options->tool = (self / "spi-capture").string();
  options->receiver = (self / "spi-receiver").string();
  options->dir = fs::temp_directory_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--dir" && hasValue) {
      options->dir = argv[++i];
    } else if (arg == "--mib" && hasValue) {
      // In bytes it must still fit 64 bits.
      if (!common::ParseDecimal(argv[++i], UINT64_MAX >> 20, &options->mib)) return false;
    } else if (arg == "--rounds" && hasValue) {
      uint64_t rounds = 0;
      if (!common::ParseDecimal(argv[++i], kMaxRounds, &rounds)) return false;
      options->rounds = static_cast<int>(rounds);
    } else if (arg == "--follow-seconds" && hasValue) {
      if (!common::ParseDecimalFraction(argv[++i], kMaxSeconds, &options->followSeconds)) return false;
    } else if (arg == "--tool" && hasValue) {
      options->tool = argv[++i];
    } else if (arg == "--receiver" && hasValue) {
      options->receiver = argv[++i];
    } else if (arg == "--no-follow") {
      options->follow = false;
    } else {
      return false;
    }
  }
  return options->mib > 0 && options->rounds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: capture_tool_bench [--dir DIR] [--mib N] [--rounds R] [--follow-seconds S]\n"
                 "                          [--tool PATH] [--receiver PATH] [--no-follow]\n");
    return 2;
  }
  const std::string input = (fs::path(options.dir) / "tool_bench_input.cap").string();
  uint64_t bytes = 0;
  if (!WriteCapture(input, options.mib << 20, &bytes)) {
    std::fprintf(stderr, "cannot write %s\n", input.c_str());
    return 1;
  }
  bool ok = MeasureCommands(options, input, bytes);
  std::remove(input.c_str());
  if (ok && options.follow) ok = MeasureFollow(options);
  return ok ? 0 : 1;
}
