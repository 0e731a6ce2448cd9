#include "call_log.h"

namespace sim {

bool OpenCallLog(const std::string& path, CallLog* log) {
  CloseCallLog(log);
  log->file = std::fopen(path.c_str(), "wb");
  if (log->file == nullptr) return false;
  // Unbuffered: exit() on another thread flushes streams without taking
  // their locks, and would write a buffered line a second time.
  std::setvbuf(log->file, nullptr, _IONBF, 0);
  return true;
}

void WriteCallLogLine(CallLog* log, const std::string& text) {
  if (log->file == nullptr) return;
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), log->file);  // one write: the stream is unbuffered
}

void CloseCallLog(CallLog* log) {
  if (log->file == nullptr) return;
  std::fclose(log->file);
  log->file = nullptr;
}

std::string LogValue(const char* key, unsigned long long value) {
  return std::string(" ") + key + "=" + std::to_string(value);
}

std::string LogText(const char* key, const std::string& text) {
  return std::string(" ") + key + "=\"" + text + "\"";
}

}  // namespace sim
