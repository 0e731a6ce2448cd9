// The fixture of spi-capture's process tests: a fresh directory with a whole
// and a damaged capture in it, and a way to run the built tool there as a
// user would, through the shell.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace spi_capture_test {

using Bytes = std::vector<uint8_t>;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A frame of n bytes starting with 'J', the rest from seed.
Bytes MakeFrame(size_t n, uint8_t seed);

// The capture records of frames, back to back.
Bytes Encode(const std::vector<Bytes>& frames);

// The tool under test: the one built here, or another copy named by
// SPI_CAPTURE_UNDER_TEST (an installed one).
std::string CapturePath();

Bytes Concat(const std::vector<Bytes>& parts);
std::string ReadText(const std::filesystem::path& path);
Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);

class SpiCaptureTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs spi-capture with args in the test's directory; before and after
  // may wrap it in a pipeline ("cat x.cap |", "| cat"), whose last command's
  // status is the one returned.
  RunResult Run(const std::string& args, const std::string& before = "", const std::string& after = "") const;

  // Starts spi-capture with args in the test's directory, standard output
  // and error going to the named files there; returns its process id.
  int Start(const std::vector<std::string>& args, const std::string& outName,
            const std::string& errName) const;

  // Waits up to timeoutMs for a started process; its exit status, or -1
  // when it was ended by a signal or had to be killed.
  static int Wait(int pid, int timeoutMs);

  std::filesystem::path dir_;
  std::vector<Bytes> frames_;
  Bytes good_;     // three whole records
  Bytes damaged_;  // two whole records, then one whose length is 1
};

}  // namespace spi_capture_test

#define EXPECT_CONTAINS(haystack, needle) \
  EXPECT_NE(std::string(haystack).find(needle), std::string::npos) << "in: " << (haystack)
