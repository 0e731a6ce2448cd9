#include "sim_stats.h"

#include <cstdio>

namespace sim {

namespace {

void AddLine(std::string* text, const char* key, uint64_t value) {
  *text += key;
  *text += '=';
  *text += std::to_string(value);
  *text += '\n';
}

}  // namespace

std::string FormatStats(const StatsSnapshot& stats) {
  std::string text;
  text +=
      stats.configError.empty() ? "config=ok\n" : "config=error\nconfig_error=" + stats.configError + "\n";
  const TrafficCounters& traffic = stats.traffic;
  AddLine(&text, "frames_generated", traffic.framesGenerated);
  AddLine(&text, "j_frames", traffic.jFrames);
  AddLine(&text, "nonj_frames", traffic.nonJFrames);
  AddLine(&text, "bytes_generated", traffic.bytesGenerated);
  AddLine(&text, "bytes_dropped", traffic.bytesDropped);
  AddLine(&text, "frames_dropped", traffic.framesDropped);
  AddLine(&text, "bytes_pending", stats.bytesPending);
  AddLine(&text, "max_pending", traffic.maxPending);
  const CallCounters& calls = stats.calls;
  AddLine(&text, "reads", calls.reads);
  AddLine(&text, "bytes_read", calls.bytesRead);
  AddLine(&text, "short_reads", calls.shortReads);
  AddLine(&text, "empty_reads", calls.emptyReads);
  AddLine(&text, "events_signalled", calls.eventsSignalled);
  AddLine(&text, "calls", calls.calls);
  AddLine(&text, "failed_calls", calls.failedCalls);
  AddLine(&text, "injected_failures", calls.injectedFailures);
  AddLine(&text, "delayed_calls", calls.delayedCalls);
  if (!stats.replayError.empty()) text += "replay_error=" + stats.replayError + "\n";
  return text;
}

bool WriteStatsFile(const std::string& path, const std::string& text) {
  // Written aside and renamed over the file: the process may end (exit() from
  // another thread) while a second writer is half-way, and a reader must
  // never find the file emptied.
  const std::string aside = path + ".tmp";
  std::FILE* file = std::fopen(aside.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::remove(aside.c_str());
    return false;
  }
  if (std::rename(aside.c_str(), path.c_str()) == 0) return true;
  // Windows' C runtime does not rename over an existing file.
  std::remove(path.c_str());
  return std::rename(aside.c_str(), path.c_str()) == 0;
}

}  // namespace sim
