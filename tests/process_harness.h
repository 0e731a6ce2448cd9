// Runs a built program (the receiver, spi-capture) as a child process, and
// captures what a user would see: standard output and standard error bytes,
// exit status, duration and the files it left.
// process_harness_posix.cpp and process_harness_win32.cpp start and stop the
// child; the build picks one.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Paths and arguments are UTF-8, on Windows too.
struct RunOptions {
  std::string program;                                   // path of the executable
  std::vector<std::string> args;                         // argv[1..]
  std::vector<std::pair<std::string, std::string>> env;  // set on top of the inherited environment
  std::string workDir;                                   // empty: the current directory
  // Standard input: this file (empty: the null device; on POSIX, the
  // harness's own); with stdinAsPipe its bytes come through a pipe instead,
  // as from "cat FILE |".
  std::string stdinFile;
  bool stdinAsPipe = false;
  // Standard output and error go to these files instead of RunResult.
  std::string stdoutFile;
  std::string stderrFile;
  // Sends the stop request interruptSignal once, at the first of these that
  // happens (each optional). On POSIX the signal; on Windows SIGINT is a
  // console Ctrl+C event and SIGBREAK a Ctrl+Break event.
  int interruptSignal = SIGINT;                     // as Ctrl+C does
  int interruptAfterMs = -1;                        // time since start
  std::string interruptOnOutput;                    // standard output contains this text
  std::string watchFile;                            // with interruptAtFileSize: path to watch
  int64_t interruptAtFileSize = -1;                 // the watched file has at least this many bytes
  int interruptDelayMs = 0;                         // after the trigger, wait this long before sending
  const std::atomic<bool>* interruptNow = nullptr;  // set by another thread: send it now
  // Closes the reading end of standard output once it contains this text,
  // as a pipeline whose reader has gone does.
  std::string closeOutputOn;
  int timeoutMs = 30000;  // then the child is killed, and timedOut is set
};

struct RunResult {
  std::string out;
  std::string err;
  int exitCode = -1;   // -1 when ended by a signal
  int termSignal = 0;  // POSIX: the signal that ended it, if any
  bool timedOut = false;
  bool interrupted = false;           // interruptSignal was sent
  std::string interruptError;         // why it could not be sent, if it could not
  double seconds = 0;                 // from start to end
  double secondsAfterInterrupt = -1;  // from the stop request to end
};

RunResult RunProgram(const RunOptions& options);

// The stop requests RunProgram can send here: SIGINT, SIGTERM and SIGHUP on
// POSIX; SIGINT (Ctrl+C) and SIGBREAK (Ctrl+Break) on Windows.
std::vector<int> StopSignals();
std::string StopSignalName(int signal);

// Whether a stop request can be delivered here at all; why not in *reason.
// Wine, for one, cannot deliver Ctrl+Break.
bool CanSendStopSignal(int signal, std::string* reason);

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
