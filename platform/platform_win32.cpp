// Windows implementation of the platform interface.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"

namespace platform {

namespace {

void (*g_interrupt_handler)(int) = nullptr;

// The one conversion between the programs' UTF-8 names and the UTF-16 the
// system takes.
std::wstring Utf16(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                      nullptr);
  return utf8;
}

// Windows calls this on a thread of its own for every console control event:
// Ctrl+C, Ctrl+Break, the console window being closed, logoff and shutdown
// all stop the recording. The handler ends the process, well within the
// seconds Windows grants a handler before it ends the process itself.
BOOL WINAPI OnConsoleControl(DWORD controlType) {
  int signalNumber = SIGTERM;
  if (controlType == CTRL_C_EVENT) signalNumber = SIGINT;
  if (controlType == CTRL_BREAK_EVENT) signalNumber = SIGBREAK;
  // One-shot: a further event gets the default handling, which ends the
  // process at once.
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_interrupt_handler(signalNumber);
  return TRUE;
}

}  // namespace

EventHandle CreateReceiveEvent() {
  // Unnamed, auto-reset, not signalled, default security: the kind of event
  // the bridge library sets when data arrives.
  return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

bool WaitReceiveEvent(EventHandle event, uint32_t timeoutMs) {
  if (event == nullptr) return false;
  return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

void SignalReceiveEvent(EventHandle event) {
  if (event != nullptr) SetEvent(event);
}

void CloseReceiveEvent(EventHandle event) {
  if (event != nullptr) CloseHandle(event);
}

void SleepMs(uint32_t ms) {
  Sleep(ms);
}

int64_t WallClockSeconds() {
  return static_cast<int64_t>(_time64(nullptr));
}

bool ToLocalTime(int64_t seconds, std::tm* out) {
  const __time64_t t = seconds;
  return _localtime64_s(out, &t) == 0;
}

void InstallInterruptHandler(void (*handler)(int)) {
  g_interrupt_handler = handler;
  // A program started in a new process group inherits "ignore Ctrl+C"; a
  // recording must stop on it all the same.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void BlockForever() {
  for (;;) Sleep(INFINITE);
}

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, errorNumber) != 0) return "error " + std::to_string(errorNumber);
  return buffer;
}

namespace {

std::atomic<bool> g_stop_requested{false};

// For a command that stops by itself: Ctrl+C and Ctrl+Break only set the
// flag; other events keep their default handling.
BOOL WINAPI OnStopRequest(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stop_requested = true;
      return TRUE;
    default:
      return FALSE;
  }
}

// GetLastError's code as the system words it, for the calls that report
// their failures that way rather than through errno.
std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "system error " + std::to_string(code);
  return std::string(text, length);
}

}  // namespace

uint32_t StopRequestTimeLimitMs(int signalNumber) {
  // Closing the console, logoff and shutdown (taken as SIGTERM) leave about
  // five seconds before Windows ends the process; a margin for the rest.
  return signalNumber == SIGTERM ? 4000 : 0;
}

void TakeBrokenPipeAsError() {}  // printing to a closed pipe merely fails here

bool IsBrokenPipe(int) {
  return false;
}

void EndByBrokenPipe() {
  std::exit(1);
}

RecordingOpen OpenFileForRecording(const std::string& name, FileHandle* file, std::string* error) {
  // Shared for reading only: another recorder cannot open it for writing.
  // Not _O_TRUNC: the file is emptied only once it is ours. The C runtime's
  // calls, so that the reasons read as they do for every other file.
  int fd = -1;
  const errno_t code = _wsopen_s(&fd, Utf16(name).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                                 _SH_DENYWR, _S_IREAD | _S_IWRITE);
  if (code != 0) {
    if (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION)
      return RecordingOpen::kInUse;
    *error = ErrorText(code);
    return RecordingOpen::kFailed;
  }
  std::string truncateError;
  if (!TruncateOpenFile(fd, 0, &truncateError)) {
    *error = truncateError;
    _close(fd);
    return RecordingOpen::kFailed;
  }
  *file = fd;
  return RecordingOpen::kOpened;
}

bool WriteToFile(FileHandle file, const void* data, size_t size, size_t* written, std::string* error) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  *written = 0;
  while (*written < size) {
    const unsigned piece = static_cast<unsigned>(std::min<size_t>(size - *written, 1u << 30));
    const int n = _write(file, bytes + *written, piece);
    if (n <= 0) {
      *error = n < 0 ? ErrorText(errno) : "the system wrote nothing";
      return false;
    }
    *written += static_cast<size_t>(n);
  }
  return true;
}

bool TruncateOpenFile(FileHandle file, uint64_t size, std::string* error) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  LARGE_INTEGER position{};
  if (SetFilePointerEx(handle, end, &position, FILE_BEGIN) && SetEndOfFile(handle)) return true;
  *error = LastErrorText();
  return false;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) _close(file);
}

void* AllocatePages(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreePages(void* pages, size_t size) {
  (void)size;  // the system frees the whole allocation
  if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
}

namespace {

// An argument of the command line and whether it holds * or ? outside quotes.
struct CommandLineWord {
  std::wstring text;
  bool wildcard = false;
};

// Splits the command line after the program's name as the C runtime does:
// 2n backslashes before a quote stand for n and the quote opens or closes
// quoting, 2n+1 for n and a quote; "" inside quotes is a quote; other
// backslashes are themselves.
std::vector<CommandLineWord> SplitCommandLine(const wchar_t* line) {
  // The program's name: up to a blank, or quoted, without escapes.
  bool quoted = false;
  for (; *line != L'\0' && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  std::vector<CommandLineWord> words;
  for (;;) {
    while (*line == L' ' || *line == L'\t') ++line;
    if (*line == L'\0') return words;
    CommandLineWord word;
    quoted = false;
    while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
      size_t backslashes = 0;
      while (*line == L'\\') {
        ++backslashes;
        ++line;
      }
      if (*line != L'"') {
        word.text.append(backslashes, L'\\');
        if (*line == L'\0') break;
        word.wildcard |= !quoted && (*line == L'*' || *line == L'?');
        word.text += *line++;
        continue;
      }
      word.text.append(backslashes / 2, L'\\');
      if (backslashes % 2 == 1) {
        word.text += L'"';
      } else if (quoted && line[1] == L'"') {
        word.text += L'"';
        ++line;
      } else {
        quoted = !quoted;
      }
      ++line;
    }
    words.push_back(word);
  }
}

// The names a pattern's last part matches in its folder, with the folder
// part as given, sorted; none when nothing matches.
std::vector<std::string> Expand(const std::wstring& pattern) {
  const size_t slash = pattern.find_last_of(L"\\/:");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : pattern.substr(0, slash + 1);
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(Utf8(folder + name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

UINT g_console_code_page = 0;  // the console's own, to set back at exit

void RestoreConsoleCodePage() {
  SetConsoleOutputCP(g_console_code_page);
}

bool IsConsole(DWORD stream) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**, bool expandWildcards) {
  std::vector<std::string> args;
  for (const CommandLineWord& word : SplitCommandLine(GetCommandLineW())) {
    std::vector<std::string> names;
    if (expandWildcards && word.wildcard) names = Expand(word.text);
    if (names.empty()) names.push_back(Utf8(word.text));
    args.insert(args.end(), names.begin(), names.end());
  }
  return args;
}

std::FILE* OpenFile(const std::string& name, const char* mode) {
  return _wfopen(Utf16(name).c_str(), Utf16(mode).c_str());
}

bool IsDevice(const std::string& name) {
  HANDLE file = CreateFileW(Utf16(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

void UseUtf8Console() {
  if (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE)) return;
  const UINT own = GetConsoleOutputCP();
  if (own == 0 || own == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  g_console_code_page = own;
  std::atexit(RestoreConsoleCodePage);
}

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

bool SyncFile(std::FILE* file) {
  return _commit(_fileno(file)) == 0;
}

bool SyncDirectoryFiles(const std::string& dir, std::string* error) {
  // Windows flushes a whole volume only for administrators, so each file is
  // flushed on its own.
  std::error_code code;
  for (const auto& entry : std::filesystem::directory_iterator(Utf16(dir), code)) {
    if (!entry.is_regular_file(code)) continue;
    HANDLE file = CreateFileW(entry.path().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *error = LastErrorText();
      return false;
    }
    const BOOL flushed = FlushFileBuffers(file);
    if (!flushed) *error = LastErrorText();
    CloseHandle(file);
    if (!flushed) return false;
  }
  if (code) *error = code.message();
  return !code;
}

bool OpenFileSize(std::FILE* file, uint64_t* size) {
  struct _stati64 status {};
  if (_fstati64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

void WatchStopRequests() {
  SetConsoleCtrlHandler(OnStopRequest, TRUE);
}

bool StopRequested() {
  return g_stop_requested;
}

}  // namespace platform
