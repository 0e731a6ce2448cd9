#include "receiver_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "capture_encoder.h"
#include "capture_reader.h"
#include "decimal_number.h"

namespace receiver_test {

std::string ReceiverPath() {
  // A build against outside bridge libraries can run these tests on its own receiver.
  const char* other = std::getenv("SPI_RECEIVER_UNDER_TEST");
  // Under wine a path of the build system becomes one on the current drive.
  return std::filesystem::absolute(other != nullptr && *other != '\0' ? other : SPI_RECEIVER_PATH).string();
}

std::string SpiCapturePath() {
  return std::filesystem::absolute(SPI_CAPTURE_PATH).string();
}

int RunSpiCapture(const std::vector<std::string>& args) {
  RunOptions options;
  options.program = SpiCapturePath();
  options.args = args;
  return RunProgram(options).exitCode;
}

std::string Banner() {
  return "============================================\n"
         "spi-receiver: SPI slave data recorder\n"
         "Version 0.2, 2019-08-30\n"
         "www.example.com\n"
         "============================================\n"
         "\n";
}

std::string HeaderFor(const std::string& captureFileName) {
  return Banner() + "USB device opened successfully!\n" +
         "Recevied data will be saved to file: " + captureFileName + "\n" +
         "( Press Ctrl + C to stop recording )\n" + "\n";
}

ReceiverRun::ReceiverRun(ReceiverRun&& other) noexcept
    : dir(std::move(other.dir)), options(std::move(other.options)) {
  other.dir.clear();
}

ReceiverRun::~ReceiverRun() {
  std::error_code code;
  if (!dir.empty()) std::filesystem::remove_all(dir, code);
}

ReceiverRun MakeRun(const std::string& scenario, const std::vector<std::string>& args) {
  ReceiverRun run;
  run.dir = MakeTempDir("receiver_test");
  run.options.program = ReceiverPath();
  run.options.args = args;
  run.options.workDir = run.dir;
  run.options.env = {
      {"SPI_SIM", scenario}, {"SPI_SIM_LOG", run.dir + "/calls.log"}, {"SPI_SIM_SCENARIO", ""}};
  return run;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint64_t StatValue(const std::string& stats, const std::string& key) {
  const std::string prefix = key + "=";
  const size_t at = ("\n" + stats).find("\n" + prefix);
  uint64_t value = 0;
  if (at == std::string::npos) {
    ADD_FAILURE() << key << " missing from\n" << stats;
  } else if (!common::ParseDecimal(std::string_view(stats).substr(at + prefix.size(),
                                                                  stats.find('\n', at) - at - prefix.size()),
                                   UINT64_MAX, &value)) {
    ADD_FAILURE() << key << " is not a number in\n" << stats;
  }
  return value;
}

bool ReadCaptureFrames(const std::string& path, std::vector<std::vector<uint8_t>>* frames,
                       std::string* error) {
  capture::CaptureReader reader;
  if (!capture::OpenCaptureReader(path, &reader, error)) return false;
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
    frames->push_back(record.frame);
  }
  if (outcome == capture::ReadOutcome::kDamage) *error = reader.damage.message;
  capture::CloseCaptureReader(&reader);
  if (outcome != capture::ReadOutcome::kEnd) return false;
  // The users' tool must agree that every capture the receiver writes is whole.
  if (RunSpiCapture({"verify", path}) != 0) {
    *error = "spi-capture verify failed on " + path;
    return false;
  }
  return true;
}

std::vector<uint8_t> RecordsOf(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<uint8_t> records;
  std::string error;
  for (const std::vector<uint8_t>& frame : frames) {
    if (!capture::EncodeCaptureRecord(frame.data(), frame.size(), &records, &error)) {
      ADD_FAILURE() << error;
    }
  }
  return records;
}

// A run that a stop request ended as it must: at once, status 1, nothing on
// standard error, the closing text last and once.
void ExpectClosedByInterrupt(const RunResult& result) {
  EXPECT_TRUE(result.interrupted);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(result.timedOut);
  const std::string closing = ConsoleText(kClosingText);
  ASSERT_GE(result.out.size(), closing.size());
  EXPECT_EQ(result.out.substr(result.out.size() - closing.size()), closing);
  EXPECT_EQ(result.out.find("Program closing"), result.out.rfind("Program closing")) << "closing text twice";
  // Well short of the 5 s pause and the 8 s calls it must not wait for, with
  // room for ThreadSanitizer's 1 s at exit on a busy machine.
  EXPECT_LT(result.secondsAfterInterrupt, 3.5);
}

// The capture must be exactly the first k storable J frames the generator
// sent, whole (frames of one byte cannot be stored, the receiver drops them).
void ExpectExactPrefix(const std::string& path, uint64_t seed, uint32_t minLength, uint32_t maxLength,
                       double nonJShare) {
  std::vector<std::vector<uint8_t>> frames;
  std::string error;
  ASSERT_TRUE(ReadCaptureFrames(path, &frames, &error)) << error;
  sim::FrameGenerator generator;
  InitGenerator(seed, minLength, maxLength, nonJShare, &generator);
  sim::ExpectedFrames expected{&generator, 0, 0, true};
  std::vector<uint8_t> want;
  uint64_t seq = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    do {
      ASSERT_TRUE(sim::NextExpectedFrame(&expected, &want, &seq));
    } while (want.size() < 2);
    ASSERT_EQ(frames[k], want) << "record " << k << " is not J frame " << seq;
  }
}

void InitGenerator(uint64_t seed, uint32_t minLength, uint32_t maxLength, double nonJShare,
                   sim::FrameGenerator* generator) {
  sim::FrameShape shape;
  shape.seed = seed;
  shape.minLength = minLength;
  shape.maxLength = maxLength;
  shape.nonJShare = nonJShare;
  sim::InitFrameGenerator(shape, generator);
}

}  // namespace receiver_test
