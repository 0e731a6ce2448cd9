#include "speed_meter.h"

#include <cstdio>

#include "console.h"
#include "platform.h"

namespace {

// Touched only by the receive loop's thread.
int64_t g_last_report_time = 0;
uint32_t g_accumulated_bytes = 0;  // wraps modulo 2^32

}  // namespace

int32_t MeasureTransferSpeedAt(int64_t nowSeconds, uint16_t count) {
  if (nowSeconds > g_last_report_time) {
    g_last_report_time = nowSeconds;
    const uint32_t result = g_accumulated_bytes + count;
    g_accumulated_bytes = 0;
    return static_cast<int32_t>(result);
  }
  g_accumulated_bytes += count;
  return -1;
}

int32_t MeasureTransferSpeed(uint16_t count) {
  return MeasureTransferSpeedAt(platform::WallClockSeconds(), count);
}

void ResetTransferSpeedMeter() {
  g_last_report_time = 0;
  g_accumulated_bytes = 0;
}

namespace {
const char kStatusFormat[] = "Transfer Speed, %.2f KBytes/S        File size, %.2f MB \r";

// Both quotients in single precision, as the line has always shown them.
float KiB(uint32_t bytes) {
  return static_cast<float>(bytes) / 1024.0f;
}
float MiB(int64_t bytes) {
  return static_cast<float>(bytes) / 1048576.0f;
}
}  // namespace

std::string FormatStatusLine(uint32_t bytesSinceLastReport, int64_t fileSize) {
  char line[128];
  const int length =
      std::snprintf(line, sizeof line, kStatusFormat, static_cast<double>(KiB(bytesSinceLastReport)),
                    static_cast<double>(MiB(fileSize)));
  return std::string(line, length > 0 ? static_cast<size_t>(length) : 0);
}

void PrintStatusLine(uint32_t bytesSinceLastReport, int64_t fileSize) {
  Print("%s", FormatStatusLine(bytesSinceLastReport, fileSize).c_str());
}
