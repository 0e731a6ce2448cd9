// The call log: one line per call of an exported function, so a test or a
// person can see exactly what the receiver asked and what it got.
//
//   FT_SetTimeouts handle=1 read=1000 write=1000 -> 0
//   FT4222_SPISlave_GetRxStatus handle=1 -> 0 pending=4096
//   FT4222_SPISlave_Read handle=1 size=4096 -> 0 read=4096
//   FT4222_SPISlave_Read handle=1 size=4096 -> 4 injected
//
// Each line is "NAME ARGUMENTS -> STATUS OUT-VALUES", arguments and out-values
// as key=value words (text values in double quotes); out-values appear only
// when the call set them, and "injected" marks a failure the scenario asked
// for. The log is unbuffered, each line one write: the process may end by
// exit() on another thread at any moment, mid-call included.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

struct CallLog {
  std::FILE* file = nullptr;
};

// Truncates and opens path; false when it cannot be opened (the simulator
// then runs without a log, as it may print nothing).
bool OpenCallLog(const std::string& path, CallLog* log);

inline bool CallLogEnabled(const CallLog& log) {
  return log.file != nullptr;
}

// Writes text and a line end, straight to the file.
void WriteCallLogLine(CallLog* log, const std::string& text);

void CloseCallLog(CallLog* log);

// Formats "key=value" with a leading space, and "key=\"text\"" for strings.
std::string LogValue(const char* key, unsigned long long value);
std::string LogText(const char* key, const std::string& text);

}  // namespace sim
