// Runs a program that writes a capture file (the receiver, or the baseline
// writer) as a child process for a measured time, stops it with SIGINT and
// collects what the benchmark reports: bytes stored during the measured
// window, CPU time, resident memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct ChildPlan {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;   // NAME=VALUE, set on top of the inherited environment
  std::string outputPath;         // where the child's standard output goes
  std::string capturePath;        // the file it writes; measured by its size
  bool waitForFirstByte = true;   // false: the warm-up counts from the start
  double warmupSeconds = 0.3;     // from the first stored byte to the window's start
  double windowSeconds = 1.5;     // the measured window
  double startTimeoutSeconds = 10;
};

struct ChildFigures {
  bool ok = false;
  std::string error;
  uint64_t windowBytes = 0;  // file growth during the window
  double windowSeconds = 0;
  uint64_t fileBytes = 0;                 // file size after the child ended
  double cpuSeconds = 0;                  // user + system over the child's whole life
  double lifeSeconds = 0;                 // from start to end
  uint64_t rssStartKiB = 0;               // resident at the window's start
  uint64_t rssEndKiB = 0;                 // resident at the window's end
  uint64_t peakRssKiB = 0;                // the child's high-water mark (VmHWM) at the window's end
  double windowCpuSeconds = 0;            // the whole process, during the window (clock ticks)
  double windowMainThreadCpuSeconds = 0;  // its first thread alone: the receive loop
  int exitStatus = -1;                    // -1 when a signal ended it

  double WindowMBps() const { return windowSeconds > 0 ? windowBytes / windowSeconds / 1e6 : 0; }
  double CpuSecondsPerGB() const { return fileBytes > 0 ? cpuSeconds / (fileBytes / 1e9) : 0; }
};

// Starts argv (argv[0] is the program's path) with env on top of the
// inherited environment (without its SPI_SIM variables) and standard output
// going to outputPath; false with *error when it cannot.
bool StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& outputPath, int* pid, std::string* error);

// Reaps a started process: its exit status (-1 when a signal ended it) and
// the user + system CPU seconds it used.
int WaitProcess(int pid, double* cpuSeconds);

// Starts the child, waits for its first stored byte and the warm-up, measures
// the window, sends SIGINT and reaps it. Variables whose name starts with
// SPI_SIM are taken out of the inherited environment so that only the plan's
// scenario applies.
ChildFigures RunChild(const ChildPlan& plan);

}  // namespace bench
