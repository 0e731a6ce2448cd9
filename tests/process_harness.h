// Runs a built program (the receiver) as a child process with a scenario for
// the simulated bridge, and captures what a user would see: standard output
// and standard error bytes, exit status, duration and the files it left.
// process_harness_posix.cpp and process_harness_win32.cpp start and stop the
// child; the build picks one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunOptions {
  std::string program;                                   // path of the executable
  std::vector<std::string> args;                         // argv[1..]
  std::vector<std::pair<std::string, std::string>> env;  // set on top of the inherited environment
  std::string workDir;                                   // empty: the current directory
  // Sends Ctrl+C once (SIGINT on POSIX, a console Ctrl+C event on Windows),
  // at the first of these that happens (each optional).
  int interruptAfterMs = -1;         // time since start
  std::string interruptOnOutput;     // standard output contains this text
  std::string watchFile;             // with interruptAtFileSize: path to watch
  int64_t interruptAtFileSize = -1;  // the watched file has at least this many bytes
  int interruptDelayMs = 0;          // after the trigger, wait this long before sending
  int timeoutMs = 30000;             // then the child is killed, and timedOut is set
};

struct RunResult {
  std::string out;
  std::string err;
  int exitCode = -1;   // -1 when ended by a signal
  int termSignal = 0;  // POSIX: the signal that ended it, if any
  bool timedOut = false;
  bool interrupted = false;           // Ctrl+C was sent
  std::string interruptError;         // why Ctrl+C could not be sent, if it could not
  double seconds = 0;                 // from start to end
  double secondsAfterInterrupt = -1;  // from Ctrl+C to end
};

RunResult RunProgram(const RunOptions& options);

// Sets key in options->env, replacing an earlier value.
void SetEnv(RunOptions* options, const std::string& key, const std::string& value);

// What a program's text on standard output becomes here: unchanged on POSIX;
// on Windows every LF written as CR LF, since the C runtime writes standard
// output in text mode.
std::string ConsoleText(const std::string& text);

// Standard output with every status line (from "Transfer Speed," to its
// carriage return) taken out, for exact comparisons.
std::string WithoutStatusLines(const std::string& out);

// The status lines found in standard output, each without its "\r".
std::vector<std::string> StatusLines(const std::string& out);

std::vector<uint8_t> ReadBinaryFile(const std::string& path);

// The size of a file, or -1 when there is none.
int64_t FileSize(const std::string& path);

// A fresh, empty directory under the system's temporary directory.
std::string MakeTempDir(const std::string& prefix);

// For the two implementations: decides, once per turn of their watch loop,
// whether the moment to send Ctrl+C has come.
struct InterruptTrigger {
  bool triggered = false;
  double triggerSeconds = 0;
};
bool InterruptDue(const RunOptions& options, const std::string& out, double elapsedSeconds,
                  InterruptTrigger* trigger);
