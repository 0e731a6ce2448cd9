#include "output_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace tool {

namespace {

constexpr size_t kOutputBuffer = 256 * 1024;

std::string ErrnoText() {
  return platform::ErrorText(errno != 0 ? errno : EIO);
}

}  // namespace

bool CreateOutputFile(const std::string& path, OutputFile* out, std::string* error) {
  out->path = path;
  out->file = nullptr;
  out->toStdout = path == "-";
  out->direct = out->toStdout;
  if (out->toStdout) {
    out->tempPath = "standard output";
    platform::SetBinaryMode(stdout);
    // Large writes when nothing has been written yet; a no-op otherwise.
    std::setvbuf(stdout, nullptr, _IOFBF, kOutputBuffer);
    out->file = stdout;
    return true;
  }
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (!code && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    out->direct = true;
    out->tempPath = path;
    errno = 0;
    out->file = std::fopen(path.c_str(), "wb");
    if (out->file == nullptr) {
      *error = "cannot open " + path + ": " + ErrnoText();
      return false;
    }
    std::setvbuf(out->file, nullptr, _IOFBF, kOutputBuffer);
    return true;
  }
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
  std::setvbuf(out->file, nullptr, _IOFBF, kOutputBuffer);
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
  if (out->direct) {
    std::FILE* file = out->file;
    out->file = nullptr;
    bool ok = std::fflush(file) == 0;
    if (!ok) *error = "write to " + out->tempPath + " failed: " + ErrnoText();
    if (!out->toStdout && std::fclose(file) != 0 && ok) {
      ok = false;
      *error = "write to " + out->tempPath + " failed: " + ErrnoText();
    }
    return ok;
  }
  // Durable before the rename publishes it, so a power loss cannot leave an
  // empty file under the target's name.
  bool ok = std::fflush(out->file) == 0 && (!out->sync || platform::SyncFile(out->file));
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
  if (out->direct) return true;
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
  if (out->direct) {
    // What was written cannot be taken back; the exit status tells.
    if (out->file != nullptr && !out->toStdout) std::fclose(out->file);
    if (out->toStdout) std::fflush(stdout);
    out->file = nullptr;
    return;
  }
  if (out->file != nullptr) std::fclose(out->file);
  out->file = nullptr;
  if (!out->tempPath.empty()) std::remove(out->tempPath.c_str());
}

std::string OutputName(const OutputFile& out) {
  return out.toStdout ? "standard output" : out.path;
}

std::FILE* MessageStream(const OutputFile& out) {
  return out.toStdout ? stderr : stdout;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code code;
  return std::filesystem::equivalent(a, b, code) && !code;
}

}  // namespace tool
