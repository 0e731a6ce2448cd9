// The operating-system operations the receiver needs, behind one interface.
// platform_posix.cpp and platform_win32.cpp implement it; the build picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// The receive event, handed to the bridge library as an untyped handle. On
// Windows it is an event HANDLE; on POSIX it points to a PosixEvent record
// (posix_event.h), the layout the bridge libraries signal.
using EventHandle = void*;

// Creates an unnamed, auto-resetting event that is not signalled; null when
// it cannot be created.
EventHandle CreateReceiveEvent();

// Waits until the event is signalled or timeoutMs has passed; a wake-up
// without a signal does not end the wait early. Returns true when signalled,
// and the signal is consumed.
bool WaitReceiveEvent(EventHandle event, uint32_t timeoutMs);

// Signals the event as a bridge library does. For the simulated bridge and
// for tests.
void SignalReceiveEvent(EventHandle event);

void CloseReceiveEvent(EventHandle event);

void SleepMs(uint32_t ms);

// Wall clock in whole seconds since 1970-01-01 00:00 UTC.
int64_t WallClockSeconds();

// Converts wall-clock seconds to local time; false when it cannot.
bool ToLocalTime(int64_t seconds, std::tm* out);

// Installs handler for every request to stop: on POSIX SIGINT (Ctrl+C),
// SIGTERM and SIGHUP (unless SIGHUP was ignored at start, as under nohup); on
// Windows every console control event (Ctrl+C, Ctrl+Break, closing the
// console window, logoff, shutdown). The handler runs on a thread of its own,
// never on the interrupted thread, so it may print, take locks and exit; it
// gets the signal number (SIGINT, SIGTERM, SIGHUP, or SIGBREAK for
// Ctrl+Break). One-shot: once the handler has been entered, any further stop
// request gets the platform's default handling. On POSIX a further request
// is held back for three seconds first, so that one sent twice at once
// (timeout sends it to the process and to its group) counts once; the handler
// has normally ended the process by then.
void InstallInterruptHandler(void (*handler)(int signalNumber));

// Blocks the calling thread for good; for a thread that must leave ending the
// process to another one.
[[noreturn]] void BlockForever();

// The system's text for an error number (errno), for messages.
std::string ErrorText(int errorNumber);

// How long a stop request lets the program take to end, in milliseconds; 0
// when it sets no limit. Windows ends a process a few seconds after the
// console window was closed, or at logoff or shutdown, whatever its handler
// is doing.
uint32_t StopRequestTimeLimitMs(int signalNumber);

// A standard output whose reader has gone (a closed pipe) would end the
// process by a signal at the next print, on whatever thread prints. From
// TakeBrokenPipeAsError on, such a print fails instead, with an error number
// for which IsBrokenPipe is true, so that the program can finish its work
// first; EndByBrokenPipe then ends it the way the system would have. On
// Windows, where printing to a closed pipe merely fails, IsBrokenPipe is
// never true and printing failures are ignored as before.
void TakeBrokenPipeAsError();
bool IsBrokenPipe(int errorNumber);
[[noreturn]] void EndByBrokenPipe();

// --- The capture file, written through the system's own file handle ---

// An open file: a POSIX descriptor, or a C runtime file number on Windows.
using FileHandle = int;
constexpr FileHandle kNoFile = -1;

enum class RecordingOpen {
  kOpened,
  kInUse,   // another recorder holds the file
  kFailed,  // the system's reason in *error
};

// Opens the file name (UTF-8) for writing, creating it when missing, and
// takes the recorder's lock on it before it empties it, so that a second
// recorder can neither empty nor write into a recording: it gets kInUse.
// Readers are not locked out. On POSIX the lock is an advisory record lock
// (fcntl); on Windows the file is shared for reading only.
RecordingOpen OpenFileForRecording(const std::string& name, FileHandle* file, std::string* error);

// Writes size bytes at the file's position, going on after a short write.
// *written holds how many were written, also when it fails.
bool WriteToFile(FileHandle file, const void* data, size_t size, size_t* written, std::string* error);

// Cuts a regular file back to size bytes through its handle, so that it is
// this file even if it was renamed meanwhile. A device or a pipe has nothing
// to cut: true.
bool TruncateOpenFile(FileHandle file, uint64_t size, std::string* error);

void CloseFile(FileHandle file);

// Memory straight from the system, given back to it when freed: for a
// buffer that grows while the disk is slow and must shrink again after.
// Null when there is none.
void* AllocatePages(size_t size);
void FreePages(void* pages, size_t size);

// --- Names, files, standard streams and stop requests ---

// File names and arguments are UTF-8 throughout both programs; the
// conversion to what the system takes happens only in here.

// The program's arguments (argv[1..]) as UTF-8. On Windows they are read
// from the UTF-16 command line, not from argv, whose ANSI code page loses
// names outside it. With expandWildcards an argument holding * or ? outside
// quotes becomes the names it matches in its folder, sorted, as Windows
// users expect of a command-line program (cmd leaves it to the program); one
// that matches nothing stays as it is. On POSIX the shell did all that:
// argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv, bool expandWildcards);

// std::fopen for a UTF-8 name.
std::FILE* OpenFile(const std::string& name, const char* mode);

// True when name is an existing device or pipe (/dev/null, a FIFO; NUL or
// COM1 on Windows, which no directory listing shows): written in place,
// never replaced by renaming a file over it.
bool IsDevice(const std::string& name);

// Lets a console show the UTF-8 the program prints (names): on Windows, when
// standard output or error is a console, its output code page becomes UTF-8
// until the program exits. Elsewhere nothing: bytes go out as they are.
void UseUtf8Console();

// Makes a standard stream carry bytes unchanged (no newline translation).
// Call before the first read or write on it.
void SetBinaryMode(std::FILE* stream);

// True when the stream is connected to a terminal or console.
bool IsTerminal(std::FILE* stream);

// Forces what was written to the file (already flushed out of its stdio
// buffer) onto the storage device.
bool SyncFile(std::FILE* file);

// Forces every file written in directory dir onto the storage device: one
// request for the whole file system where the system has one. False with the
// system's reason in *error.
bool SyncDirectoryFiles(const std::string& dir, std::string* error);

// The current size of an open regular file; false for anything else (a
// pipe, a terminal) or when it cannot be read.
bool OpenFileSize(std::FILE* file, uint64_t* size);

// For a command that runs until it is told to stop: from now on Ctrl+C and
// SIGTERM (also SIGHUP; on Windows Ctrl+C and Ctrl+Break) no longer end the
// process but set a flag that StopRequested reads. A sleep in progress may
// end early when the request arrives.
void WatchStopRequests();
bool StopRequested();

}  // namespace platform
