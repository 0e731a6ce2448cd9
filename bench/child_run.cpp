#include "child_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "decimal_number.h"
#include "platform.h"

extern char** environ;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

uint64_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "SPI_SIM", 7) != 0) env.emplace_back(*entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(&s[0]);
  pointers.push_back(nullptr);
  return pointers;
}

uint64_t StatusField(pid_t pid, const char* key) {
  uint64_t kib = 0;
  StatusKiB(ReadTextFile("/proc/" + std::to_string(pid) + "/status"), key, &kib);
  return kib;
}

// User + system CPU seconds from a /proc/.../stat line (fields 14 and 15,
// counted after the parenthesised command name).
double StatCpuSeconds(const std::string& path) {
  const std::string text = ReadTextFile(path);
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // The words after the name start at field 3: fields 14 and 15 are words 11 and 12.
  std::istringstream words(text.substr(close + 1));
  std::vector<std::string> fields(13);
  for (std::string& field : fields) words >> field;
  uint64_t user = 0;
  uint64_t system = 0;
  if (!common::ParseDecimal(fields[11], UINT64_MAX, &user) ||
      !common::ParseDecimal(fields[12], UINT64_MAX, &system)) {
    return 0;
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Waits for the first stored byte; false when the child ended or the time ran out.
bool WaitForFirstByte(const ChildPlan& plan, pid_t pid, std::string* error) {
  const Clock::time_point start = Clock::now();
  while (FileSize(plan.capturePath) == 0) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      *error = plan.argv[0] + " ended before storing anything (see " + plan.outputPath + ")";
      return false;
    }
    if (SecondsSince(start) > plan.startTimeoutSeconds) {
      *error = plan.argv[0] + " stored nothing within " + std::to_string(plan.startTimeoutSeconds) + " s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

bool StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& outputPath, int* pid, std::string* error) {
  std::vector<std::string> args = argv;
  std::vector<std::string> fullEnv = ChildEnvironment(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t child = 0;
  const int rc = posix_spawn(&child, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                             Pointers(fullEnv).data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) *error = "cannot start " + args[0] + ": " + platform::ErrorText(rc);
  *pid = child;
  return rc == 0;
}

int WaitProcess(int pid, double* cpuSeconds) {
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  *cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                usage.ru_stime.tv_usec / 1e6;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildFigures RunChild(const ChildPlan& plan) {
  ChildFigures figures;
  const Clock::time_point started = Clock::now();
  int pid = 0;
  if (!StartProcess(plan.argv, plan.env, plan.outputPath, &pid, &figures.error)) return figures;
  bool measured = !plan.waitForFirstByte || WaitForFirstByte(plan, pid, &figures.error);
  if (measured) {
    std::this_thread::sleep_for(std::chrono::duration<double>(plan.warmupSeconds));
    const Clock::time_point windowStart = Clock::now();
    const uint64_t startBytes = FileSize(plan.capturePath);
    figures.rssStartKiB = StatusField(pid, "VmRSS");
    const std::string proc = "/proc/" + std::to_string(pid);
    const double processCpu = StatCpuSeconds(proc + "/stat");
    const double mainThreadCpu = StatCpuSeconds(proc + "/task/" + std::to_string(pid) + "/stat");
    std::this_thread::sleep_until(windowStart + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(plan.windowSeconds)));
    figures.windowBytes = FileSize(plan.capturePath) - startBytes;
    figures.windowSeconds = SecondsSince(windowStart);
    figures.rssEndKiB = StatusField(pid, "VmRSS");
    figures.windowCpuSeconds = StatCpuSeconds(proc + "/stat") - processCpu;
    figures.windowMainThreadCpuSeconds =
        StatCpuSeconds(proc + "/task/" + std::to_string(pid) + "/stat") - mainThreadCpu;
    // The high-water mark from /proc: ru_maxrss would also count the pages
    // this process had mapped when the child was spawned.
    figures.peakRssKiB = StatusField(pid, "VmHWM");
  }
  kill(pid, measured ? SIGINT : SIGKILL);
  figures.exitStatus = WaitProcess(pid, &figures.cpuSeconds);
  figures.lifeSeconds = SecondsSince(started);
  figures.fileBytes = FileSize(plan.capturePath);
  figures.ok = measured;
  return figures;
}

}  // namespace bench
