// Captures past 4 GiB: the file offsets and the status line of the 32-bit
// build, and a disk that fills up there. Each run writes gigabytes, so they
// run only where the test command names a scratch directory for them:
//   SPI_LARGE_CAPTURE_DIR      a directory with room for a capture past 4 GiB
//                              (5.5 GiB free)
//   SPI_FULL_PAST_4GIB_DIR     a directory on a file system that fills up
//                              between 4 GiB + 64 MiB and 5 GiB (under wine,
//                              on a drive of its own: wine reports a drive's
//                              free space, not that of a mount inside it)
// The capture is removed however the test ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "generated_frame.h"
#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
constexpr uint64_t kMiB = uint64_t{1} << 20;
// The largest frames, in lockstep: the fewest passes per byte, so the run is
// as short as the receiver allows.
constexpr uint32_t kFrameLength = 65535;
const char kScenario[] = "pacing=lockstep;rate=unlimited;frame=65535;nonj=0";

struct RemovedAtEnd {
  std::string path;
  ~RemovedAtEnd() {
    std::error_code code;
    fs::remove_all(path, code);
  }
};

// The scratch directory named by the variable, with its free space; empty
// (and why in *reason) when the test cannot run there.
std::string ScratchDir(const char* variable, uint64_t minFree, uint64_t maxFree, uint64_t* available,
                       std::string* reason) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') {
    *reason = std::string(variable) + " does not name a scratch directory";
    return {};
  }
  const std::string dir = fs::absolute(value).string();
  std::error_code code;
  const fs::space_info space = fs::space(dir, code);
  if (code) {
    *reason = dir + ": " + code.message();
    return {};
  }
  *available = space.available;
  if (space.available < minFree || space.available > maxFree) {
    *reason = dir + " has " + std::to_string(space.available / kMiB) + " MiB free; the test needs " +
              std::to_string(minFree / kMiB) + " to " + std::to_string(maxFree / kMiB) + " MiB";
    return {};
  }
  return dir;
}

// The file sizes the status lines show, in MB, in order.
std::vector<double> StatusFileSizes(const std::string& out) {
  std::vector<double> sizes;
  const std::regex format("File size, (\\d+\\.\\d\\d) MB ");
  for (const std::string& line : StatusLines(out)) {
    std::smatch match;
    if (std::regex_search(line, match, format)) sizes.push_back(std::stod(match[1]));
  }
  return sizes;
}

// The file sizes must only grow, and pass 2048 MB on the way: a 32-bit
// offset would wrap or go negative there or at 4096 MB.
void ExpectStatusLinesGrowPast(const std::string& out, double lastAbove) {
  const std::vector<double> sizes = StatusFileSizes(out);
  ASSERT_FALSE(sizes.empty());
  for (size_t i = 1; i < sizes.size(); ++i) {
    ASSERT_GE(sizes[i], sizes[i - 1]) << "status line " << i << " went back";
  }
  bool past2048 = false;
  for (double size : sizes) past2048 |= size > 2048.0 && size < 4096.0;
  EXPECT_TRUE(past2048) << "no status line between 2048 and 4096 MB";
  EXPECT_GT(sizes.back(), lastAbove);
}

// Walks the capture: whole records only, each an intact generated frame, in
// sequence from the first. Returns the record count.
uint64_t ExpectWalksCleanly(const std::string& path) {
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ADD_FAILURE() << error;
    return 0;
  }
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  uint64_t records = 0;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    uint64_t seq = 0;
    if (record.frame.size() != kFrameLength ||
        sim::CheckGeneratedFrame(record.frame.data(), record.frame.size(), &seq) !=
            sim::FrameCheck::kIntact ||
        seq != records) {
      ADD_FAILURE() << "record " << records << " is not generated frame " << records;
      break;
    }
    ++records;
  }
  if (outcome == capture::ReadOutcome::kDamage) ADD_FAILURE() << reader.damage.message;
  capture::CloseCaptureReader(&reader);
  // The users' tool, built for the same target, must walk it too.
  EXPECT_EQ(RunSpiCapture({"verify", path}), 0);
  return records;
}

TEST(LargeCapture, RecordsPastFourGiBWithGrowingStatusLinesAndWalksCleanly) {
  uint64_t available = 0;
  std::string skipReason;
  const std::string dir =
      ScratchDir("SPI_LARGE_CAPTURE_DIR", kFourGiB + 1536 * kMiB, UINT64_MAX, &available, &skipReason);
  if (dir.empty()) GTEST_SKIP() << skipReason;
  const RemovedAtEnd capture{(fs::path(dir) / "large_capture.bin").string()};
  ReceiverRun run = MakeRun(kScenario, {capture.path});
  run.options.watchFile = capture.path;
  // A status line comes once a second: once past 4 GiB, wait for one.
  run.options.interruptAtFileSize = static_cast<int64_t>(kFourGiB + 64 * kMiB);
  run.options.interruptDelayMs = 1500;
  run.options.timeoutMs = 600000;
  const RunResult result = RunProgram(run.options);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.interrupted) << result.interruptError;
  ExpectStatusLinesGrowPast(result.out, 4096.0);
  const uint64_t size = fs::file_size(capture.path);
  EXPECT_GT(size, kFourGiB);
  EXPECT_EQ(ExpectWalksCleanly(capture.path), size / (kFrameLength + 2));
  std::cout << "[ figures  ] " << size << " bytes recorded in " << result.seconds << " s, "
            << static_cast<double>(size) / 1e6 / result.seconds << " MB/s\n";
}

TEST(LargeCapture, AFullDiskPastFourGiBCutsTheFileBackToItsLastWholeRecord) {
  uint64_t available = 0;
  std::string skipReason;
  const std::string dir = ScratchDir("SPI_FULL_PAST_4GIB_DIR", kFourGiB + 64 * kMiB, kFourGiB + 1024 * kMiB,
                                     &available, &skipReason);
  if (dir.empty()) GTEST_SKIP() << skipReason;
  const RemovedAtEnd capture{(fs::path(dir) / "large_capture.bin").string()};
  ReceiverRun run = MakeRun(kScenario, {capture.path});
  run.options.timeoutMs = 600000;
  const RunResult result = RunProgram(run.options);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  // The reason is the C runtime's: wine's reports the short write that fills
  // the disk as "Invalid argument", not as "No space left on device".
  const std::string failed = "Writing capture file " + capture.path + " failed: ";
  const size_t at = result.out.find(failed);
  ASSERT_NE(at, std::string::npos) << result.out.substr(result.out.size() > 300 ? result.out.size() - 300
                                                                                : 0);
  const std::string reason = result.out.substr(at + failed.size());
  EXPECT_EQ(reason.find(ConsoleText("\n")), reason.size() - ConsoleText("\n").size()) << "not the last line";
  // The disk may fill up before a status line shows 4096 MB; the recording
  // past 4 GiB above checks that one.
  ExpectStatusLinesGrowPast(result.out, 2048.0);
  const uint64_t size = fs::file_size(capture.path);
  EXPECT_GT(size, kFourGiB);
  EXPECT_EQ(size % (kFrameLength + 2), 0u) << "a torn record was left behind";
  EXPECT_EQ(ExpectWalksCleanly(capture.path), size / (kFrameLength + 2));
  std::cout << "[ figures  ] " << size << " bytes recorded in " << result.seconds << " s until " << available
            << " bytes were used up; the reason given: " << reason;
}

}  // namespace
