#include "process_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

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

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
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
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    result.err = "pipe failed";
    return result;
  }
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
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

  bool outOpen = true, errOpen = true;
  Clock::time_point interruptTime;
  bool triggered = false;
  Clock::time_point triggerTime;
  int status = 0;
  bool exited = false;
  while (!exited) {
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    if (outOpen || errOpen) {
      poll(fds, 2, 2);
    } else {
      usleep(100);  // the child is exiting: look for its end more often than poll's 1 ms
    }
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) outOpen = Drain(outPipe[0], &result.out);
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) errOpen = Drain(errPipe[0], &result.err);

    if (outPipe[0] >= 0 && !options.closeOutputOn.empty() &&
        result.out.find(options.closeOutputOn) != std::string::npos) {
      close(outPipe[0]);
      outPipe[0] = -1;
      outOpen = false;
    }
    const double elapsed = SecondsSince(start);
    if (!result.interrupted) {
      bool now = options.interruptAfterMs >= 0 && elapsed * 1000 >= options.interruptAfterMs;
      now |= !options.interruptOnOutput.empty() &&
             result.out.find(options.interruptOnOutput) != std::string::npos;
      now |= options.interruptAtFileSize >= 0 && FileSize(options.watchFile) >= options.interruptAtFileSize;
      if (now && !triggered) {
        triggered = true;
        triggerTime = Clock::now();
      }
      if (triggered && SecondsSince(triggerTime) * 1000 >= options.interruptDelayMs) {
        kill(pid, options.interruptSignal);
        result.interrupted = true;
        interruptTime = Clock::now();
      }
    }
    if (!result.timedOut && elapsed * 1000 >= options.timeoutMs) {
      kill(pid, SIGKILL);
      result.timedOut = true;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;
  }
  // Whatever is still in the pipes.
  while (outOpen) outOpen = Drain(outPipe[0], &result.out);
  while (errOpen) errOpen = Drain(errPipe[0], &result.err);
  if (outPipe[0] >= 0) close(outPipe[0]);
  close(errPipe[0]);

  result.seconds = SecondsSince(start);
  if (result.interrupted) result.secondsAfterInterrupt = SecondsSince(interruptTime);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  return result;
}

void SetEnv(RunOptions* options, const std::string& key, const std::string& value) {
  for (auto& entry : options->env) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  options->env.emplace_back(key, value);
}

std::string WithoutStatusLines(const std::string& out) {
  std::string kept;
  size_t pos = 0;
  for (;;) {
    const size_t begin = out.find("Transfer Speed,", pos);
    if (begin == std::string::npos) break;
    const size_t end = out.find('\r', begin);
    kept.append(out, pos, begin - pos);
    if (end == std::string::npos) return kept;
    pos = end + 1;
  }
  kept.append(out, pos, std::string::npos);
  return kept;
}

std::vector<std::string> StatusLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    const size_t begin = out.find("Transfer Speed,", pos);
    if (begin == std::string::npos) break;
    const size_t end = out.find('\r', begin);
    if (end == std::string::npos) break;
    lines.push_back(out.substr(begin, end - begin));
    pos = end + 1;
  }
  return lines;
}

std::vector<uint8_t> ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}
