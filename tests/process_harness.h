// Runs a built program (the receiver) as a child process with a scenario for
// the simulated bridge, and captures what a user would see: standard output
// and standard error bytes, exit status, duration and the files it left.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunOptions {
  std::string program;                                   // path of the executable
  std::vector<std::string> args;                         // argv[1..]
  std::vector<std::pair<std::string, std::string>> env;  // set on top of the inherited environment
  std::string workDir;                                   // empty: the current directory
  // Sends interruptSignal once, at the first of these that happens (each
  // optional).
  int interruptSignal = SIGINT;      // as Ctrl+C does
  int interruptAfterMs = -1;         // time since start
  std::string interruptOnOutput;     // standard output contains this text
  std::string watchFile;             // with interruptAtFileSize: path to watch
  int64_t interruptAtFileSize = -1;  // the watched file has at least this many bytes
  int interruptDelayMs = 0;          // after the trigger, wait this long before sending
  // Closes the reading end of standard output once it contains this text,
  // as a pipeline whose reader has gone does.
  std::string closeOutputOn;
  int timeoutMs = 30000;  // then SIGKILL, and timedOut is set
};

struct RunResult {
  std::string out;
  std::string err;
  int exitCode = -1;   // -1 when ended by a signal
  int termSignal = 0;  // the signal that ended it, if any
  bool timedOut = false;
  bool interrupted = false;           // interruptSignal was sent
  double seconds = 0;                 // from start to end
  double secondsAfterInterrupt = -1;  // from the signal to end
};

RunResult RunProgram(const RunOptions& options);

// Sets key in options->env, replacing an earlier value.
void SetEnv(RunOptions* options, const std::string& key, const std::string& value);

// Standard output with every status line (from "Transfer Speed," to its
// carriage return) taken out, for exact comparisons.
std::string WithoutStatusLines(const std::string& out);

// The status lines found in standard output, each without its "\r".
std::vector<std::string> StatusLines(const std::string& out);

std::vector<uint8_t> ReadBinaryFile(const std::string& path);

// A fresh, empty directory under the system's temporary directory.
std::string MakeTempDir(const std::string& prefix);
