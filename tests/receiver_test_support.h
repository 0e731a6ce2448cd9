// Shared pieces of the receiver's process-level tests: the texts it prints
// and a way to run it with a scenario for the simulated bridge.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "generated_frame.h"
#include "process_harness.h"

namespace receiver_test {

// The paths of the receiver under test and of spi-capture, absolute, so that
// they hold in a run's own working directory.
std::string ReceiverPath();
std::string SpiCapturePath();

// Runs spi-capture with these arguments; its exit status.
int RunSpiCapture(const std::vector<std::string>& args);

// The banner, the lines up to set-up, and the line before recording.
std::string Banner();
std::string HeaderFor(const std::string& captureFileName);
inline const char* kRecordingStarts = "start receiving spi data..............\n";
inline const char* kClosingText = "\nProgram closing......";

// Options for one run of the receiver in a fresh directory, with the
// simulator configured by scenario and its call log in dir/calls.log. The
// directory, with what the run left there, goes with the object.
struct ReceiverRun {
  std::string dir;
  RunOptions options;

  ReceiverRun() = default;
  ReceiverRun(ReceiverRun&& other) noexcept;
  ReceiverRun(const ReceiverRun&) = delete;
  ReceiverRun& operator=(const ReceiverRun&) = delete;
  ~ReceiverRun();
};
ReceiverRun MakeRun(const std::string& scenario, const std::vector<std::string>& args = {"capture.bin"});

std::string ReadText(const std::string& path);

// A value of the simulator's statistics file (key=value lines); a missing or
// malformed one fails the test.
uint64_t StatValue(const std::string& stats, const std::string& key);

// The frames stored in a capture file, walked with the capture reader;
// false (with the reason) when the file does not walk cleanly.
bool ReadCaptureFrames(const std::string& path, std::vector<std::vector<uint8_t>>* frames,
                       std::string* error);

// The records the receiver stores for these frames, back to back.
std::vector<uint8_t> RecordsOf(const std::vector<std::vector<uint8_t>>& frames);

// A run that a stop request ended as it must: at once, status 1, nothing on
// standard error, the closing text last and once.
void ExpectClosedByInterrupt(const RunResult& result);

// The capture must be exactly the first k storable J frames the generator
// sent, whole.
void ExpectExactPrefix(const std::string& path, uint64_t seed, uint32_t minLength, uint32_t maxLength,
                       double nonJShare);

// The generator the simulator runs for a scenario with these keys, so a test
// can regenerate exactly what was sent.
void InitGenerator(uint64_t seed, uint32_t minLength, uint32_t maxLength, double nonJShare,
                   sim::FrameGenerator* generator);

}  // namespace receiver_test
