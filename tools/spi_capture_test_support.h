// The fixture of spi-capture's process tests: a fresh directory with a whole
// and a damaged capture in it, and a way to run the built tool there as a
// user would. The process harness (tests/process_harness.h) starts it, so
// the same tests run against spi-capture.exe under wine.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace spi_capture_test {

using Bytes = std::vector<uint8_t>;

struct RunResult {
  int status = -1;
  std::string out;  // standard output as text: CR LF read as LF, as a console shows it
  std::string err;  // standard error, the same
  Bytes bytes;      // standard output exactly as written
};

// Where the run's standard input comes from, named in the test's directory.
struct RunInput {
  std::string stdinFile;     // empty: nothing (the null device)
  bool stdinAsPipe = false;  // the file's bytes through a pipe, as "cat FILE |" gives them
};

// stdin from a pipe or from the file itself.
inline RunInput PipedFrom(const std::string& name) {
  return {name, true};
}
inline RunInput ReadFrom(const std::string& name) {
  return {name, false};
}

// A frame of n bytes starting with 'J', the rest from seed.
Bytes MakeFrame(size_t n, uint8_t seed);

// The capture records of frames, back to back.
Bytes Encode(const std::vector<Bytes>& frames);

// The tool under test: the one built here, or another copy named by
// SPI_CAPTURE_UNDER_TEST (an installed one).
std::string CapturePath();

// Splits a command line as a shell does for plain words and quotes ('a b',
// "a b"), without expansion or redirection (which it refuses).
std::vector<std::string> SplitArgs(const std::string& args);

// Text as the program meant it: on Windows the C runtime writes each LF of
// a text stream as CR LF, which this reads back as LF.
std::string AsText(const std::string& written);

// Text with every backslash as a slash: names the tool builds from a folder
// use the system's separator.
std::string WithSlashes(std::string text);

// Looks at condition every few milliseconds until it holds (true) or
// timeoutMs has passed (false).
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

Bytes Concat(const std::vector<Bytes>& parts);
// Paths given as strings are UTF-8.
std::string ReadText(const std::filesystem::path& path);
std::string ReadText(const std::string& path);
Bytes ReadBytes(const std::filesystem::path& path);
Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
void WriteBytes(const std::string& path, const Bytes& bytes);

class SpiCaptureTest : public testing::Test {
 protected:
  SpiCaptureTest();
  ~SpiCaptureTest() override;
  void SetUp() override;
  void TearDown() override;

  // A name in the test's directory, as UTF-8.
  std::string Path(const std::string& name) const {
    return (dir_ / std::filesystem::u8path(name)).u8string();
  }

  // Runs spi-capture with args (split as by SplitArgs) in the test's
  // directory.
  RunResult Run(const std::string& args, const RunInput& input = {}) const;
  RunResult RunArgs(const std::vector<std::string>& args, const RunInput& input = {}) const;

  // Starts spi-capture with args in the test's directory, standard output
  // and error going to the named files there; returns a number for Wait,
  // Running and Stop.
  int Start(const std::vector<std::string>& args, const std::string& outName, const std::string& errName);

  // Waits up to timeoutMs for a started run; its exit status, or -1 when it
  // was ended by a signal or had to be killed.
  int Wait(int run, int timeoutMs);
  bool Running(int run) const;
  // Sends the stop request (SIGINT: Ctrl+C) to a started run. On Windows the
  // console event reaches every run started and still running.
  void Stop(int run, int signal = SIGINT);

  // The stop requests a user can send here (SIGINT, SIGTERM; Ctrl+C,
  // Ctrl+Break) and whether each can be delivered (wine cannot send
  // Ctrl+Break), and their names.
  static std::vector<int> StopRequests();
  static bool CanStop(int signal, std::string* reason);
  static std::string StopName(int signal);

  std::filesystem::path dir_;
  std::vector<Bytes> frames_;
  Bytes good_;     // three whole records
  Bytes damaged_;  // two whole records, then one whose length is 1

 private:
  struct Started;
  std::vector<std::unique_ptr<Started>> started_;
};

}  // namespace spi_capture_test

#define EXPECT_CONTAINS(haystack, needle) \
  EXPECT_NE(std::string(haystack).find(needle), std::string::npos) << "in: " << (haystack)
