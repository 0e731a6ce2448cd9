// Shared pieces of the receiver's process-level tests: the texts it prints
// and a way to run it with a scenario for the simulated bridge.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "generated_frame.h"
#include "process_harness.h"

namespace receiver_test {

// The path of the receiver under test.
std::string ReceiverPath();

// The banner, the lines up to set-up, and the line before recording.
std::string Banner();
std::string HeaderFor(const std::string& captureFileName);
inline const char* kRecordingStarts = "start receiving spi data..............\n";
inline const char* kClosingText = "\nProgram closing......";

// Options for one run of the receiver in a fresh directory, with the
// simulator configured by scenario and its call log in dir/calls.log.
struct ReceiverRun {
  std::string dir;
  RunOptions options;
};
ReceiverRun MakeRun(const std::string& scenario, const std::vector<std::string>& args = {"capture.bin"});

std::string ReadText(const std::string& path);

// The frames stored in a capture file, walked with the capture reader;
// false (with the reason) when the file does not walk cleanly.
bool ReadCaptureFrames(const std::string& path, std::vector<std::vector<uint8_t>>* frames,
                       std::string* error);

// The record the receiver stores for a frame.
std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& frame);

// The generator the simulator runs for a scenario with these keys, so a test
// can regenerate exactly what was sent.
void InitGenerator(uint64_t seed, uint32_t minLength, uint32_t maxLength, double nonJShare,
                   sim::FrameGenerator* generator);

}  // namespace receiver_test
