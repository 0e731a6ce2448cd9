#include "capture_file_name.h"

#include "platform.h"

std::string FormatCaptureFileName(const std::tm& localTime) {
  char buffer[80];
  const size_t length = std::strftime(buffer, sizeof buffer, "ornix_%Y-%m-%d_%H-%M-%S", &localTime);
  return std::string(buffer, length);
}

std::string MakeCaptureFileName() {
  std::tm localTime{};
  platform::ToLocalTime(platform::WallClockSeconds(), &localTime);
  return FormatCaptureFileName(localTime);
}
