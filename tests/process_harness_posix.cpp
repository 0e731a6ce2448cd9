// POSIX implementation of the process harness: fork, exec, pipes, poll and
// signals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "process_harness.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Builds the child's environment before fork: only async-signal-safe calls
// may run between fork and exec.
std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    bool overridden = false;
    for (const auto& [key, value] : extra) overridden |= entry.rfind(key + "=", 0) == 0;
    if (!overridden) env.push_back(entry);
  }
  for (const auto& [key, value] : extra) env.push_back(key + "=" + value);
  return env;
}

bool Drain(int fd, std::string* into) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into->append(buffer, static_cast<size_t>(n));
    return true;
  }
  return n < 0 && errno == EINTR;
}

// Waits up to timeoutMs for either pipe that is still open, and reads what
// has come; a pipe at its end is marked closed.
void ReadPipes(int out, int err, int timeoutMs, bool* outOpen, bool* errOpen, RunResult* result) {
  pollfd fds[2] = {{*outOpen ? out : -1, POLLIN, 0}, {*errOpen ? err : -1, POLLIN, 0}};
  poll(fds, 2, timeoutMs);
  if (*outOpen && (fds[0].revents & (POLLIN | POLLHUP))) *outOpen = Drain(out, &result->out);
  if (*errOpen && (fds[1].revents & (POLLIN | POLLHUP))) *errOpen = Drain(err, &result->err);
}

// Writes bytes into the child's standard input and closes it. A child that
// ends without reading them all must not end the harness by SIGPIPE: the
// signal is blocked on this thread and taken back after a failed write.
void FeedPipe(int fd, const std::string& bytes) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const timespec none{0, 0};
      sigtimedwait(&pipeSignal, nullptr, &none);
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// The descriptors the child gets as 0, 1 and 2 when options name files or a
// pipe for them; -1 leaves the stream as it is. Close-on-exec: dup2 in the
// child clears that on the copy.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
  int feed = -1;  // the harness's end of the input pipe
  std::string error;
};

ChildStreams OpenChildStreams(const RunOptions& options) {
  ChildStreams streams;
  auto openFile = [&](const std::string& path, int flags, int* fd) {
    if (path.empty()) return;
    *fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (*fd < 0) streams.error += "cannot open " + path + ": " + strerror(errno) + "\n";
  };
  if (options.stdinAsPipe) {
    int inPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0) {
      streams.error = "pipe failed";
      return streams;
    }
    streams.in = inPipe[0];
    streams.feed = inPipe[1];
  } else {
    openFile(options.stdinFile, O_RDONLY, &streams.in);
  }
  openFile(options.stdoutFile, O_WRONLY | O_CREAT | O_TRUNC, &streams.out);
  openFile(options.stderrFile, O_WRONLY | O_CREAT | O_TRUNC, &streams.err);
  return streams;
}

void CloseChildStreams(ChildStreams* streams) {
  for (int* fd : {&streams->in, &streams->out, &streams->err, &streams->feed}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace

RunResult RunProgram(const RunOptions& options) {
  RunResult result;
  std::vector<std::string> argStrings = {options.program};
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = ChildEnvironment(options.env);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Close-on-exec, so that a child started by another thread at the same time
  // does not hold these pipes open (the parent waits for their end).
  ChildStreams streams = OpenChildStreams(options);
  int outPipe[2], errPipe[2];
  if (!streams.error.empty() || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    result.err = streams.error.empty() ? "pipe failed" : streams.error;
    CloseChildStreams(&streams);
    return result;
  }
  std::string input;
  if (options.stdinAsPipe) {
    const std::vector<uint8_t> bytes = ReadBinaryFile(options.stdinFile);
    input.assign(bytes.begin(), bytes.end());
  }
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (streams.in >= 0) dup2(streams.in, 0);
    dup2(streams.out >= 0 ? streams.out : outPipe[1], 1);
    dup2(streams.err >= 0 ? streams.err : errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    // A group of its own, which a timeout ends whole: a program that starts
    // another (timeout, a shell) must not leave it running with our pipes.
    setpgid(0, 0);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(127);
    // The child must not inherit a blocked or ignored stop signal from the test runner.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  std::thread feeder;
  if (streams.feed >= 0) {
    feeder = std::thread(FeedPipe, streams.feed, std::cref(input));  // joined before input goes
    streams.feed = -1;                                               // the feeder closes it
  }
  CloseChildStreams(&streams);

  bool outOpen = true, errOpen = true;
  Clock::time_point interruptTime;
  InterruptTrigger trigger;
  int status = 0;
  bool exited = false;
  while (!exited) {
    if (outOpen || errOpen) {
      ReadPipes(outPipe[0], errPipe[0], 2, &outOpen, &errOpen, &result);
    } else {
      usleep(100);  // the child is exiting: look for its end more often than poll's 1 ms
    }

    if (outPipe[0] >= 0 && !options.closeOutputOn.empty() &&
        result.out.find(options.closeOutputOn) != std::string::npos) {
      close(outPipe[0]);
      outPipe[0] = -1;
      outOpen = false;
    }
    const double elapsed = SecondsSince(start);
    if (!result.interrupted && InterruptDue(options, result.out, elapsed, &trigger)) {
      kill(pid, options.interruptSignal);
      result.interrupted = true;
      interruptTime = Clock::now();
    }
    if (!result.timedOut && elapsed * 1000 >= options.timeoutMs) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      result.timedOut = true;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;
  }
  // Whatever is still in the pipes, for a while: a descendant that left the
  // child's group may hold them open for ever.
  const auto drainUntil = Clock::now() + std::chrono::seconds(5);
  while ((outOpen || errOpen) && Clock::now() < drainUntil) {
    ReadPipes(outPipe[0], errPipe[0], 100, &outOpen, &errOpen, &result);
  }
  if (outOpen || errOpen)
    result.err += "\n[harness: the output was still held open after the program had ended]";
  if (feeder.joinable()) feeder.join();
  if (outPipe[0] >= 0) close(outPipe[0]);
  close(errPipe[0]);

  result.seconds = SecondsSince(start);
  if (result.interrupted) result.secondsAfterInterrupt = SecondsSince(interruptTime);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  return result;
}

std::vector<int> StopSignals() {
  return {SIGINT, SIGTERM, SIGHUP};
}

std::string StopSignalName(int signal) {
  return strsignal(signal);
}

bool CanSendStopSignal(int, std::string*) {
  return true;
}

std::string ConsoleText(const std::string& text) {
  return text;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}
