// POSIX implementation of the platform interface.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "platform.h"
#include "posix_event.h"

namespace platform {

namespace {

timespec MonotonicDeadline(uint32_t timeoutMs) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

// Stop requests are taken synchronously: SIGINT (Ctrl+C), SIGTERM (kill, a
// service manager, timeout) and SIGHUP (a closed terminal) stay blocked in
// every thread, and the interrupt thread waits for them with sigwait, then
// runs the handler.
void (*g_interrupt_handler)(int) = nullptr;

// Installed only so that an inherited "ignore" cannot discard the signal;
// it never runs, since the signal is blocked wherever it could.
void NeverCalled(int) {}

sigset_t StopSignals(bool withHangUp) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (withHangUp) sigaddset(&signals, SIGHUP);
  return signals;
}

// Whether the hang-up is ours to take: a program started under nohup (SIGHUP
// ignored) is meant to outlive its terminal, and keeps recording.
bool g_take_hang_up = true;

// How long a further stop request is held back once the first has been
// taken. Tools such as timeout send one request twice, to the process and to
// its group, and the second may come only after the handler has begun (the
// first wakes the handler, which can run before the sender sends again); held
// back, it dies with the process the handler ends. A handler that cannot end
// the process still yields to a further request once this has passed.
// Longer than a sanitizer build's exit takes (ThreadSanitizer sleeps a second
// at exit), so that a duplicate cannot end such a process either.
constexpr uint32_t kStopRequestHoldMs = 3000;

// After the hold, unblocks the stop requests in this thread alone, where a
// held or later one then gets the default action and ends the process.
void* ReleaseStopRequestsLater(void*) {
  SleepMs(kStopRequestHoldMs);
  const sigset_t stop = StopSignals(g_take_hang_up);
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  for (;;) pause();
}

// The stop requests we take, back to the system's action (ending the
// process); an ignored hang-up stays ignored.
void RestoreDefaultActions() {
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(SIGINT, &defaultAction, nullptr);
  sigaction(SIGTERM, &defaultAction, nullptr);
  if (g_take_hang_up) sigaction(SIGHUP, &defaultAction, nullptr);
}

void* InterruptThread(void*) {
  const sigset_t stop = StopSignals(g_take_hang_up);
  int signalNumber = 0;
  while (sigwait(&stop, &signalNumber) != 0) {
  }
  // One-shot: a further stop request gets the default action, once the hold
  // is over.
  RestoreDefaultActions();
  pthread_t releaser;
  if (pthread_create(&releaser, nullptr, ReleaseStopRequestsLater, nullptr) == 0) {
    pthread_detach(releaser);
  } else {
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);  // no hold, but never no way out
  }
  g_interrupt_handler(signalNumber);
  return nullptr;
}

}  // namespace

EventHandle CreateReceiveEvent() {
  auto* event = new PosixEvent{};
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  const bool ok = pthread_cond_init(&event->cond, &attr) == 0;
  pthread_condattr_destroy(&attr);
  if (!ok || pthread_mutex_init(&event->mutex, nullptr) != 0) {
    delete event;
    return nullptr;
  }
  return event;
}

bool WaitReceiveEvent(EventHandle handle, uint32_t timeoutMs) {
  auto* event = static_cast<PosixEvent*>(handle);
  if (event == nullptr) return false;
  const timespec deadline = MonotonicDeadline(timeoutMs);
  pthread_mutex_lock(&event->mutex);
  bool signalled = event->signalled != 0;
  while (!signalled) {
    const int rc = pthread_cond_timedwait(&event->cond, &event->mutex, &deadline);
    if (rc == ETIMEDOUT) break;
    // A library may signal the condition without setting the flag, so a
    // wake-up counts as a signal.
    signalled = true;
  }
  event->signalled = 0;  // auto-reset
  pthread_mutex_unlock(&event->mutex);
  return signalled;
}

void SignalReceiveEvent(EventHandle handle) {
  auto* event = static_cast<PosixEvent*>(handle);
  if (event == nullptr) return;
  pthread_mutex_lock(&event->mutex);
  event->signalled = 1;
  pthread_cond_signal(&event->cond);
  pthread_mutex_unlock(&event->mutex);
}

void CloseReceiveEvent(EventHandle handle) {
  auto* event = static_cast<PosixEvent*>(handle);
  if (event == nullptr) return;
  pthread_cond_destroy(&event->cond);
  pthread_mutex_destroy(&event->mutex);
  delete event;
}

void SleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t WallClockSeconds() {
  return static_cast<int64_t>(time(nullptr));
}

bool ToLocalTime(int64_t seconds, std::tm* out) {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, out) != nullptr;
}

void InstallInterruptHandler(void (*handler)(int)) {
  g_interrupt_handler = handler;
  struct sigaction hangUp {};
  sigaction(SIGHUP, nullptr, &hangUp);
  g_take_hang_up = hangUp.sa_handler != SIG_IGN;
  // Blocked in this thread and so in every thread started after it, ours and
  // the bridge library's: a stop request sent to the process, whichever
  // thread the kernel would pick, waits for the interrupt thread's sigwait.
  const sigset_t stop = StopSignals(g_take_hang_up);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  struct sigaction action {};
  action.sa_handler = NeverCalled;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (g_take_hang_up) sigaction(SIGHUP, &action, nullptr);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, InterruptThread, nullptr) == 0) {
    pthread_detach(thread);
    return;
  }
  // Nobody would ever take a blocked request: let it end the process as it
  // would without a handler, rather than be ignored.
  RestoreDefaultActions();
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

void BlockForever() {
  for (;;) pause();
}

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  // The GNU variant may return a static string instead of filling buffer.
  const auto result = strerror_r(errorNumber, buffer, sizeof buffer);
  if constexpr (std::is_same_v<decltype(result), const char* const> ||
                std::is_same_v<decltype(result), char* const>) {
    return result;
  } else {
    return result == 0 ? buffer : "error " + std::to_string(errorNumber);
  }
}

uint32_t StopRequestTimeLimitMs(int) {
  return 0;  // a second request, held back for a while, is the user's limit
}

void TakeBrokenPipeAsError() {
  signal(SIGPIPE, SIG_IGN);
}

bool IsBrokenPipe(int errorNumber) {
  return errorNumber == EPIPE;
}

void EndByBrokenPipe() {
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(1);  // only if the signal is blocked
}

namespace {

// An advisory write lock on the whole file, held by the open file itself
// until it is closed. A record lock, not flock: viewers that take flock's
// shared lock are not held up by a recording. False only when another
// recorder holds it; a file system without locks is recorded on without one.
bool TakeRecorderLock(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
  const int taken = fcntl(fd, F_OFD_SETLK, &lock);
#else
  const int taken = fcntl(fd, F_SETLK, &lock);  // per process: the recorder opens the file once
#endif
  return taken == 0 || (errno != EAGAIN && errno != EACCES);
}

}  // namespace

RecordingOpen OpenFileForRecording(const std::string& name, FileHandle* file, std::string* error) {
  // Not O_TRUNC: the file is emptied only once it is ours.
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = ErrorText(errno);
    return RecordingOpen::kFailed;
  }
  if (!TakeRecorderLock(fd)) {
    close(fd);
    return RecordingOpen::kInUse;
  }
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) {
    *error = ErrorText(errno);
    close(fd);
    return RecordingOpen::kFailed;
  }
  *file = fd;
  return RecordingOpen::kOpened;
}

bool WriteToFile(FileHandle file, const void* data, size_t size, size_t* written, std::string* error) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  *written = 0;
  while (*written < size) {
    const ssize_t n = write(file, bytes + *written, size - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? ErrorText(errno) : "the system wrote nothing";
      return false;
    }
    *written += static_cast<size_t>(n);
  }
  return true;
}

bool TruncateOpenFile(FileHandle file, uint64_t size, std::string* error) {
  struct stat status {};
  if (fstat(file, &status) == 0 && !S_ISREG(status.st_mode)) return true;
  if (ftruncate(file, static_cast<off_t>(size)) == 0) return true;
  *error = ErrorText(errno);
  return false;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) close(file);
}

void* AllocatePages(size_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void FreePages(void* pages, size_t size) {
  if (pages != nullptr) munmap(pages, size);
}

namespace {

volatile sig_atomic_t g_stop_requested = 0;

void OnStopRequest(int) {
  g_stop_requested = 1;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv, bool) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::FILE* OpenFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

bool IsDevice(const std::string& name) {
  struct stat status {};
  return stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

void UseUtf8Console() {}

void SetBinaryMode(std::FILE*) {}  // POSIX streams never translate

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

bool SyncFile(std::FILE* file) {
  return fsync(fileno(file)) == 0;
}

bool SyncDirectoryFiles(const std::string& dir, std::string* error) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = ErrorText(errno);
    return false;
  }
#ifdef __linux__
  // One request for the whole file system instead of one per file.
  bool ok = syncfs(fd) == 0;
#else
  sync();
  bool ok = true;
#endif
  // The directory's own entries: the names of the files.
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = ErrorText(errno);
  close(fd);
  return ok;
}

bool OpenFileSize(std::FILE* file, uint64_t* size) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

void WatchStopRequests() {
  struct sigaction action {};
  action.sa_handler = OnStopRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns at once
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

bool StopRequested() {
  return g_stop_requested != 0;
}

}  // namespace platform
