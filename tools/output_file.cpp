#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tool {

namespace {

std::string ErrnoText() {
  return std::strerror(errno != 0 ? errno : EIO);
}

// Makes the written bytes durable before the rename publishes them, so a
// power loss cannot leave an empty file under the target's name.
bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

}  // namespace

bool CreateOutputFile(const std::string& path, OutputFile* out, std::string* error) {
  out->path = path;
  out->file = nullptr;
  // "x" refuses to open an existing file, so a leftover from an earlier
  // crash or a concurrent run is never reused.
  for (int attempt = 0; attempt < 100 && out->file == nullptr; ++attempt) {
    out->tempPath = path + ".tmp" + std::to_string(attempt);
    errno = 0;
    out->file = std::fopen(out->tempPath.c_str(), "wbx");
    if (out->file == nullptr && errno != EEXIST) break;
  }
  if (out->file == nullptr) {
    *error = "cannot create " + out->tempPath + ": " + ErrnoText();
    return false;
  }
  std::setvbuf(out->file, nullptr, _IOFBF, 256 * 1024);
  return true;
}

bool WriteOutput(OutputFile* out, const void* data, size_t size, std::string* error) {
  if (size == 0) return true;
  errno = 0;
  if (std::fwrite(data, 1, size, out->file) != size) {
    *error = "write to " + out->tempPath + " failed: " + ErrnoText();
    return false;
  }
  return true;
}

bool CloseOutputFile(OutputFile* out, std::string* error) {
  if (out->file == nullptr) return true;
  errno = 0;
  bool ok = std::fflush(out->file) == 0 && SyncToDisk(out->file);
  std::string failure = ok ? std::string() : ErrnoText();
  errno = 0;
  if (std::fclose(out->file) != 0 && ok) {
    ok = false;
    failure = ErrnoText();
  }
  out->file = nullptr;
  if (!ok) *error = "write to " + out->tempPath + " failed: " + failure;
  return ok;
}

bool CommitOutputFile(OutputFile* out, std::string* error) {
  // A result that cannot be committed is never left behind half-made.
  if (!CloseOutputFile(out, error)) {
    AbandonOutputFile(out);
    return false;
  }
  // std::filesystem::rename replaces an existing target on every system.
  std::error_code code;
  std::filesystem::rename(out->tempPath, out->path, code);
  if (code) {
    *error = "cannot rename " + out->tempPath + " to " + out->path + ": " + code.message();
    AbandonOutputFile(out);
    return false;
  }
  return true;
}

void AbandonOutputFile(OutputFile* out) {
  if (out->file != nullptr) std::fclose(out->file);
  out->file = nullptr;
  if (!out->tempPath.empty()) std::remove(out->tempPath.c_str());
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code code;
  return std::filesystem::equivalent(a, b, code) && !code;
}

}  // namespace tool
