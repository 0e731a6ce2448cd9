// Windows implementation of the process harness: CreateProcess with pipes for
// standard output and standard error, and Ctrl+C as a console control event.
//
// A Ctrl+C goes to every process on a console, so the harness moves to a
// console of its own before its first child, which each child then shares:
// the event reaches the child and the harness (which ignores it), never the
// console the tests were started from. A child in a process group of its own
// would not do: Windows, and wine, turn Ctrl+C off in a new group.
#include <windows.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "process_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The exit status a child is given when the harness kills it at its timeout.
constexpr UINT kKilledAtTimeout = 0xDEAD;

// Paths and arguments are UTF-8; Windows takes them as UTF-16.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// One argument as the C runtime's command-line parser reads it back.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are escaped, and so is the quote.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quote
  return quoted + "\"";
}

bool SameKey(const std::string& entry, const std::string& key) {
  // Environment names are not case-sensitive on Windows.
  return entry.size() > key.size() && entry[key.size()] == '=' &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(), static_cast<int>(key.size()),
                        key.data(), static_cast<int>(key.size())) == CSTR_EQUAL;
}

// The inherited environment with the extra variables set, as the block
// CreateProcess takes: NUL-terminated entries, then one more NUL.
std::string ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::string block;
  char* inherited = GetEnvironmentStringsA();
  for (const char* entry = inherited; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
    const std::string text(entry);
    bool overridden = false;
    for (const auto& [key, value] : extra) overridden |= SameKey(text, key);
    if (!overridden) block.append(text).push_back('\0');
  }
  if (inherited != nullptr) FreeEnvironmentStringsA(inherited);
  for (const auto& [key, value] : extra) block.append(key + "=" + value).push_back('\0');
  block.push_back('\0');
  return block;
}

// Moves what the pipe holds into *into; false once the pipe is closed.
bool Drain(HANDLE pipe, std::string* into) {
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  while (available > 0) {
    char buffer[65536];
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : DWORD{sizeof buffer}, &read,
                  nullptr)) {
      return false;
    }
    into->append(buffer, read);
    available -= read;
  }
  return true;
}

// The harness shares the child's console, and so its stop requests.
BOOL WINAPI IgnoreStopRequests(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// Once per process: a hidden console of the harness's own, on which the
// harness ignores stop requests. Empty, or why not.
const std::string& OwnConsole() {
  static const std::string error = [] {
    FreeConsole();
    if (!AllocConsole()) return "AllocConsole failed: error " + std::to_string(GetLastError());
    if (HWND window = GetConsoleWindow()) ShowWindow(window, SW_HIDE);
    if (!SetConsoleCtrlHandler(IgnoreStopRequests, TRUE)) {
      return "SetConsoleCtrlHandler failed: error " + std::to_string(GetLastError());
    }
    return std::string();
  }();
  return error;
}

// Sends the console event for a stop request to everyone on the console.
bool SendStopRequest(int signal, std::string* error) {
  if (!OwnConsole().empty()) {
    *error = OwnConsole();
    return false;
  }
  if (signal != SIGINT && signal != SIGBREAK) {
    *error = "no console event stands for signal " + std::to_string(signal);
    return false;
  }
  if (GenerateConsoleCtrlEvent(signal == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0)) return true;
  *error = "GenerateConsoleCtrlEvent failed: error " + std::to_string(GetLastError());
  return false;
}

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;  // inherited by the child
};

bool MakePipe(Pipe* pipe) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&pipe->read, &pipe->write, &inheritable, 65536)) return false;
  SetHandleInformation(pipe->read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

void CloseIfOpen(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = nullptr;
}

// An inheritable handle on a file for the child's standard stream; the null
// device when path is empty.
HANDLE OpenStreamFile(const std::string& path, bool write, std::string* error) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileW(path.empty() ? L"NUL" : Wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                            write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error += "cannot open " + path + ": error " + std::to_string(GetLastError()) + "\n";
    return nullptr;
  }
  return file;
}

// Writes bytes into the child's standard input and closes it; a child that
// ends without reading them all makes the write fail, which ends it.
void FeedPipe(HANDLE pipe, const std::vector<uint8_t>& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    DWORD written = 0;
    const DWORD chunk = bytes.size() - done < 65536 ? static_cast<DWORD>(bytes.size() - done) : 65536;
    if (!WriteFile(pipe, bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  CloseHandle(pipe);
}

}  // namespace

RunResult RunProgram(const RunOptions& options) {
  RunResult result;
  std::string commandLine = QuoteArgument(options.program);
  for (const std::string& argument : options.args) commandLine += " " + QuoteArgument(argument);
  std::wstring wideCommandLine = Wide(commandLine);
  std::string environment = ChildEnvironment(options.env);

  Pipe out, err, in;
  std::string error;
  HANDLE outFile = options.stdoutFile.empty() ? nullptr : OpenStreamFile(options.stdoutFile, true, &error);
  HANDLE errFile = options.stderrFile.empty() ? nullptr : OpenStreamFile(options.stderrFile, true, &error);
  HANDLE input = nullptr;
  if (options.stdinAsPipe) {
    if (MakePipe(&in)) {
      // The child reads; the harness writes.
      SetHandleInformation(in.read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
      SetHandleInformation(in.write, HANDLE_FLAG_INHERIT, 0);
      input = in.read;
      in.read = nullptr;
    }
  } else {
    input = OpenStreamFile(options.stdinFile, false, &error);
  }
  if (!MakePipe(&out) || !MakePipe(&err) || input == nullptr || !error.empty() ||
      (!options.stdoutFile.empty() && outFile == nullptr) ||
      (!options.stderrFile.empty() && errFile == nullptr)) {
    result.err = error.empty() ? "CreatePipe failed: error " + std::to_string(GetLastError()) : error;
    for (HANDLE* handle :
         {&out.read, &out.write, &err.read, &err.write, &in.write, &input, &outFile, &errFile})
      CloseIfOpen(handle);
    return result;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outFile != nullptr ? outFile : out.write;
  startup.hStdError = errFile != nullptr ? errFile : err.write;
  PROCESS_INFORMATION child{};
  OwnConsole();  // before the child, which inherits it
  const auto start = Clock::now();
  const BOOL created = CreateProcessW(
      Wide(options.program).c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE, 0, environment.data(),
      options.workDir.empty() ? nullptr : Wide(options.workDir).c_str(), &startup, &child);
  const DWORD createError = GetLastError();
  for (HANDLE* handle : {&out.write, &err.write, &input, &outFile, &errFile}) CloseIfOpen(handle);
  if (!created) {
    result.err = "CreateProcess " + options.program + " failed: error " + std::to_string(createError);
    CloseIfOpen(&out.read);
    CloseIfOpen(&err.read);
    CloseIfOpen(&in.write);
    return result;
  }
  std::thread feeder;
  const std::vector<uint8_t> inputBytes =
      in.write != nullptr ? ReadBinaryFile(options.stdinFile) : std::vector<uint8_t>();
  if (in.write != nullptr) {
    feeder = std::thread(FeedPipe, in.write, std::cref(inputBytes));  // joined before they go
    in.write = nullptr;                                               // the feeder closes it
  }

  bool outOpen = true, errOpen = true;
  Clock::time_point interruptTime;
  InterruptTrigger trigger;
  bool exited = false;
  while (!exited) {
    exited = WaitForSingleObject(child.hProcess, 1) == WAIT_OBJECT_0;
    if (outOpen) outOpen = Drain(out.read, &result.out);
    if (errOpen) errOpen = Drain(err.read, &result.err);
    if (exited) break;
    if (outOpen && !options.closeOutputOn.empty() &&
        result.out.find(options.closeOutputOn) != std::string::npos) {
      CloseIfOpen(&out.read);
      outOpen = false;
    }

    const double elapsed = SecondsSince(start);
    if (!result.interrupted && result.interruptError.empty() &&
        InterruptDue(options, result.out, elapsed, &trigger)) {
      result.interrupted = SendStopRequest(options.interruptSignal, &result.interruptError);
      interruptTime = Clock::now();
    }
    if (!result.timedOut && elapsed * 1000 >= options.timeoutMs) {
      TerminateProcess(child.hProcess, kKilledAtTimeout);
      result.timedOut = true;
    }
  }
  // The child's writes are all in the pipes by now; a process it started may
  // still hold them open, so take what is there rather than wait for their end.
  if (outOpen) Drain(out.read, &result.out);
  if (errOpen) Drain(err.read, &result.err);
  CloseIfOpen(&out.read);
  CloseIfOpen(&err.read);
  if (feeder.joinable()) feeder.join();

  result.seconds = SecondsSince(start);
  if (result.interrupted) result.secondsAfterInterrupt = SecondsSince(interruptTime);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(child.hProcess, &exitCode)) result.exitCode = static_cast<int>(exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return result;
}

std::vector<int> StopSignals() {
  return {SIGINT, SIGBREAK};
}

std::string StopSignalName(int signal) {
  if (signal == SIGINT) return "Ctrl+C";
  if (signal == SIGBREAK) return "Ctrl+Break";
  return "signal " + std::to_string(signal);
}

bool CanSendStopSignal(int signal, std::string* reason) {
  // Sent to the harness alone, between children: it ignores it.
  if (SendStopRequest(signal, reason)) return true;
  *reason = StopSignalName(signal) + " cannot be delivered here: " + *reason;
  return false;
}

std::string ConsoleText(const std::string& text) {
  std::string translated;
  for (const char c : text) {
    if (c == '\n') translated += '\r';
    translated += c;
  }
  return translated;
}

std::string MakeTempDir(const std::string& prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::filesystem::path dir =
        base / (prefix + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter++) + "_" +
                std::to_string(GetTickCount()));
    std::error_code code;
    if (std::filesystem::create_directory(dir, code)) return dir.string();
  }
  return {};
}
