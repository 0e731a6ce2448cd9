#include "run_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "decimal_number.h"

std::string ReceiverPath() {
  return SPI_RECEIVER_PATH;
}

double ReliabilityScale() {
  const char* text = std::getenv("SPI_RELIABILITY_SCALE");
  if (text != nullptr && *text != '\0') {
    double value = 0;
    if (common::ParseDecimalFraction(text, 1000, &value) && value > 0) return value;
    // Running at the default instead would look like a pass at the scale asked for.
    ADD_FAILURE() << "SPI_RELIABILITY_SCALE is not a number above 0: '" << text << "'";
  }
#ifdef SPI_SANITIZER_BUILD
  return 0.1;
#else
  return 1.0;
#endif
}

int Scaled(int count, int minimum) {
  return std::max(minimum, static_cast<int>(std::lround(count * ReliabilityScale())));
}

uint64_t ReliabilitySeed() {
  const char* text = std::getenv("SPI_RELIABILITY_SEED");
  uint64_t seed = 0;
  if (text == nullptr || *text == '\0') return 20190830;
  if (!common::ParseDecimal(text, UINT64_MAX, &seed)) {
    ADD_FAILURE() << "SPI_RELIABILITY_SEED is not a number: '" << text << "'";
  }
  return seed;
}

void ParallelFor(size_t count, int parallel, const std::function<void(size_t)>& job) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  const size_t threads = std::min(count, static_cast<size_t>(std::max(parallel, 1)));
  for (size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (size_t i = next++; i < count; i = next++) job(i);
    });
  }
  for (std::thread& worker : workers) worker.join();
}

std::string MakeScratchDir(const std::string& prefix) {
  // A container's /dev/shm is often 64 MB: use it only with room for four
  // recordings of a few hundred megabytes at once.
  constexpr uintmax_t kRoomNeeded = uintmax_t{2} << 30;
  std::error_code code;
  const std::filesystem::space_info shm = std::filesystem::space("/dev/shm", code);
  std::string pattern = !code && shm.available >= kRoomNeeded
                            ? "/dev/shm/" + prefix + "_XXXXXX"
                            : (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return MakeTempDir(prefix);
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code code;
  std::filesystem::remove_all(path, code);
}

double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const size_t index = static_cast<size_t>(std::llround(q * static_cast<double>(samples.size() - 1)));
  return samples[std::min(index, samples.size() - 1)];
}

void PrintFigure(const std::string& text) {
  std::printf("[ figures  ] %s\n", text.c_str());
  std::fflush(stdout);
}

bool EndsWithClosingText(const std::string& out) {
  static const std::string kClosing = "\nProgram closing......";
  return out.size() >= kClosing.size() &&
         out.compare(out.size() - kClosing.size(), kClosing.size(), kClosing) == 0;
}

std::string DescribeRun(const RunResult& result) {
  std::string tail = result.out.size() > 300 ? result.out.substr(result.out.size() - 300) : result.out;
  std::replace(tail.begin(), tail.end(), '\r', '|');
  return "exit " + std::to_string(result.exitCode) + ", signal " + std::to_string(result.termSignal) +
         (result.timedOut ? ", timed out" : "") + ", stderr '" + result.err.substr(0, 2000) +
         "', stdout ends '" + tail + "'";
}
