#include "input_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "output_file.h"
#include "platform.h"
#include "tool_args.h"

namespace tool {

bool IsStdio(const std::string& path) {
  return path == "-";
}

std::string InputName(const std::string& path) {
  return IsStdio(path) ? "standard input" : path;
}

std::FILE* OpenInput(const std::string& path, std::string* error) {
  if (IsStdio(path)) {
    platform::SetBinaryMode(stdin);
    return stdin;
  }
  std::error_code code;
  if (std::filesystem::is_directory(std::filesystem::u8path(path), code)) {
    *error = path + ": is a directory";
    return nullptr;
  }
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) *error = path + ": cannot open: " + platform::ErrorText(errno);
  return file;
}

bool OpenCaptureInput(const std::string& path, capture::CaptureReader* reader, std::string* error) {
  std::FILE* file = OpenInput(path, error);
  if (file == nullptr) return false;
  capture::AttachCaptureReader(file, reader);
  return true;
}

uint64_t KnownInputSize(std::FILE* file) {
  uint64_t size = 0;
  return platform::OpenFileSize(file, &size) ? size : 0;
}

uint64_t BytesLeft(const capture::CaptureReader& reader) {
  const uint64_t size = KnownInputSize(reader.file);
  if (size > 0) return size > reader.offset ? size - reader.offset : 0;
  uint64_t rest = reader.end - reader.begin;
  std::vector<char> buffer(64 * 1024);
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), reader.file)) > 0) rest += got;
  return rest;
}

bool OutputIsInput(const std::string& out, const std::vector<std::string>& inputs) {
  if (IsStdio(out)) return false;
  for (const std::string& input : inputs) {
    if (!IsStdio(input) && (input == out || SameFile(input, out))) return true;
  }
  return false;
}

int RefuseOutputIsInput(const std::string& out) {
  ReportFileError(out, "is also an input; choose another output");
  return kExitUsage;
}

}  // namespace tool
