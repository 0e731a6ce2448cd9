// Concurrent readers: while the receiver records, other processes walk the
// capture again and again, follow it as it grows, and hold it open for
// writing. They must only ever see whole records, at most followed by part
// of the one being written, and the receiver must go on regardless.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>
#include <thread>

#include "decimal_number.h"
#include "frame_check.h"
#include "run_support.h"

namespace {

constexpr uint64_t kSeed = 5;
const char kScenario[] = "pacing=lockstep;frame=13-16384;nonj=0.01;seed=5;delay=FT4222_SPISlave_Read:0-1";

// The key=value figures of a follower's line; a value that is not a number
// fails the test.
std::map<std::string, long long> Figures(const std::string& line) {
  std::map<std::string, long long> figures;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) continue;
    uint64_t value = 0;
    if (common::ParseDecimal(std::string_view(word).substr(equals + 1), INT64_MAX, &value)) {
      figures[word.substr(0, equals)] = static_cast<long long>(value);
    } else {
      ADD_FAILURE() << "not a number in '" << word << "' of: " << line;
    }
  }
  return figures;
}

RunOptions Follower(const std::vector<std::string>& args) {
  RunOptions options;
  options.program = SPI_FOLLOWER_PATH;
  options.args = args;
  options.timeoutMs = 120000;
  return options;
}

RunOptions Receiver(const std::string& path, int ms) {
  RunOptions options;
  options.program = ReceiverPath();
  options.args = {path};
  options.env = {{"SPI_SIM", kScenario}};
  options.interruptAfterMs = ms;
  options.timeoutMs = ms + 60000;
  return options;
}

int64_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Waits until the file holds more than bytes, for ms at most.
bool WaitForGrowth(const std::string& path, int64_t bytes, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (SizeOf(path) <= bytes) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

double MegabytesPerSecond(const std::string& path, const RunResult& result) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || result.seconds <= 0) return 0;
  return static_cast<double>(st.st_size) / 1e6 / result.seconds;
}

TEST(ConcurrentReaders, SeeOnlyWholeRecordsAndDoNotStopTheReceiver) {
  const int seconds = Scaled(6, 3);
  const std::string dir = MakeScratchDir("spi_readers");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/capture.bin";
  const std::string shape[] = {std::to_string(kSeed), "13", "16384"};
  const std::string followSeconds = std::to_string(seconds - 1.5);

  RunResult receiver;
  std::thread recording([&] { receiver = RunProgram(Receiver(path, seconds * 1000)); });
  if (!WaitForGrowth(path, 0, 20000)) {
    // Not an assertion: leaving with the recording thread running would end the whole program.
    recording.join();
    RemoveTree(dir);
    FAIL() << "no capture appeared: " << DescribeRun(receiver);
  }
  RunResult walker, follower, writer;
  std::thread walking([&] {
    walker = RunProgram(Follower({"walk", path, followSeconds, shape[0], shape[1], shape[2]}));
  });
  std::thread following([&] {
    follower = RunProgram(Follower({"follow", path, followSeconds, shape[0], shape[1], shape[2]}));
  });
  // The writer comes once the recording has gone on with the readers at it.
  EXPECT_TRUE(WaitForGrowth(path, SizeOf(path) + (4 << 20), 20000));
  writer = RunProgram(Follower({"write", path, "1000"}));
  walking.join();
  following.join();
  recording.join();

  EXPECT_EQ(receiver.exitCode, 1) << DescribeRun(receiver);
  EXPECT_EQ(receiver.err, "");
  EXPECT_TRUE(EndsWithClosingText(receiver.out)) << DescribeRun(receiver);
  EXPECT_EQ(walker.exitCode, 0) << walker.out << walker.err;
  EXPECT_EQ(follower.exitCode, 0) << follower.out << follower.err;
  EXPECT_EQ(writer.exitCode, 0) << writer.out << writer.err;

  // The file grew between the walker's passes and while the other process
  // held it open for writing with an exclusive lock.
  const auto walked = Figures(walker.out);
  const auto followed = Figures(follower.out);
  const auto wrote = Figures(writer.out);
  EXPECT_GT(walked.count("passes") ? walked.at("passes") : 0, 1);
  EXPECT_GT(walked.count("grew") ? walked.at("grew") : 0, 1);
  EXPECT_GT(followed.count("records") ? followed.at("records") : 0, 0);
  EXPECT_GT(wrote.count("after") ? wrote.at("after") : 0, wrote.count("before") ? wrote.at("before") : 0);

  FrameStreamCheck check;
  sim::FrameShape frames;
  frames.seed = kSeed;
  frames.minLength = 13;
  frames.maxLength = 16384;
  InitFrameStreamCheck(frames, CaptureExpectation::kExactPrefix, &check);
  std::string error;
  EXPECT_TRUE(CheckCaptureFile(path, &check, &error)) << error;
  const double withReaders = MegabytesPerSecond(path, receiver);

  // The same recording alone, for comparison; a figure, not a requirement.
  const std::string alonePath = dir + "/alone.bin";
  const RunResult alone = RunProgram(Receiver(alonePath, seconds * 1000));
  const double withoutReaders = MegabytesPerSecond(alonePath, alone);
  RemoveTree(dir);

  char line[300];
  std::snprintf(
      line, sizeof line,
      "concurrent readers: %lld walks (%lld ended in a record being written), follower read %lld "
      "records, file grew %lld -> %lld bytes while held for writing; %.1f MB/s recorded with "
      "readers, %.1f MB/s alone",
      walked.count("passes") ? walked.at("passes") : 0, walked.count("torn") ? walked.at("torn") : 0,
      followed.count("records") ? followed.at("records") : 0, wrote.count("before") ? wrote.at("before") : 0,
      wrote.count("after") ? wrote.at("after") : 0, withReaders, withoutReaders);
  PrintFigure(line);
}

}  // namespace
