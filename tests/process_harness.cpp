// The parts of the process harness that do not depend on the platform.
#include "process_harness.h"

#include <filesystem>
#include <fstream>
#include <iterator>

void SetEnv(RunOptions* options, const std::string& key, const std::string& value) {
  for (auto& entry : options->env) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  options->env.emplace_back(key, value);
}

bool InterruptDue(const RunOptions& options, const std::string& out, double elapsedSeconds,
                  InterruptTrigger* trigger) {
  if (!trigger->triggered) {
    bool now = options.interruptAfterMs >= 0 && elapsedSeconds * 1000 >= options.interruptAfterMs;
    now |= !options.interruptOnOutput.empty() && out.find(options.interruptOnOutput) != std::string::npos;
    now |= options.interruptAtFileSize >= 0 && FileSize(options.watchFile) >= options.interruptAtFileSize;
    now |= options.interruptNow != nullptr && options.interruptNow->load();
    if (!now) return false;
    trigger->triggered = true;
    trigger->triggerSeconds = elapsedSeconds;
  }
  return (elapsedSeconds - trigger->triggerSeconds) * 1000 >= options.interruptDelayMs;
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
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int64_t FileSize(const std::string& path) {
  std::error_code code;
  const auto size = std::filesystem::file_size(std::filesystem::u8path(path), code);
  return code ? -1 : static_cast<int64_t>(size);
}
