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
  out->pending.reserve(kOutputBuffer);
  if (out->toStdout) {
    out->tempPath = "standard output";
    platform::SetBinaryMode(stdout);
    out->file = stdout;
    return true;
  }
  if (platform::IsDevice(path)) {
    out->direct = true;
    out->tempPath = path;
    errno = 0;
    out->file = platform::OpenFile(path, "wb");
    if (out->file == nullptr) {
      *error = "cannot open: " + ErrnoText();
      return false;
    }
    return true;
  }
  // "x" refuses to open an existing file, so a leftover from an earlier
  // crash or a concurrent run is never reused.
  for (int attempt = 0; attempt < 100 && out->file == nullptr; ++attempt) {
    out->tempPath = path + ".tmp" + std::to_string(attempt);
    errno = 0;
    out->file = platform::OpenFile(out->tempPath, "wbx");
    if (out->file == nullptr && errno != EEXIST) break;
  }
  if (out->file == nullptr) {
    *error = "cannot create: " + ErrnoText();
    return false;
  }
  return true;
}

bool FlushOutput(OutputFile* out, std::string* error) {
  errno = 0;
  const size_t size = out->pending.size();
  const bool written = size == 0 || std::fwrite(out->pending.data(), 1, size, out->file) == size;
  out->pending.clear();
  if (!written || std::fflush(out->file) != 0) {
    *error = "write failed: " + ErrnoText();
    return false;
  }
  return true;
}

bool WriteOutput(OutputFile* out, const void* data, size_t size, std::string* error) {
  // Small pieces (a record, a CSV row) gather here and leave in large
  // writes; the stdio buffer cannot be relied on to be large.
  if (out->pending.size() + size > kOutputBuffer && !FlushOutput(out, error)) return false;
  if (size < kOutputBuffer) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->pending.insert(out->pending.end(), bytes, bytes + size);
    return true;
  }
  errno = 0;
  if (std::fwrite(data, 1, size, out->file) != size) {
    *error = "write failed: " + ErrnoText();
    return false;
  }
  return true;
}

bool CloseOutputFile(OutputFile* out, std::string* error) {
  if (out->file == nullptr) return true;
  errno = 0;
  if (out->direct) {
    bool ok = FlushOutput(out, error);
    std::FILE* file = out->file;
    out->file = nullptr;
    if (!out->toStdout && std::fclose(file) != 0 && ok) {
      ok = false;
      *error = "write failed: " + ErrnoText();
    }
    return ok;
  }
  if (!FlushOutput(out, error)) {
    std::fclose(out->file);
    out->file = nullptr;
    return false;
  }
  // Durable before the rename publishes it, so a power loss cannot leave an
  // empty file under the target's name.
  errno = 0;
  bool ok = !out->sync || platform::SyncFile(out->file);
  std::string failure = ok ? std::string() : ErrnoText();
  errno = 0;
  if (std::fclose(out->file) != 0 && ok) {
    ok = false;
    failure = ErrnoText();
  }
  out->file = nullptr;
  if (!ok) *error = "write failed: " + failure;
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
  std::filesystem::rename(std::filesystem::u8path(out->tempPath), std::filesystem::u8path(out->path), code);
  if (code) {
    *error = "cannot rename the finished file into place: " + code.message();
    AbandonOutputFile(out);
    return false;
  }
  return true;
}

void AbandonOutputFile(OutputFile* out) {
  out->pending.clear();
  if (out->direct) {
    // What was written cannot be taken back; the exit status tells.
    if (out->file != nullptr && !out->toStdout) std::fclose(out->file);
    if (out->toStdout) std::fflush(stdout);
    out->file = nullptr;
    return;
  }
  if (out->file != nullptr) std::fclose(out->file);
  out->file = nullptr;
  std::error_code ignored;
  if (!out->tempPath.empty()) std::filesystem::remove(std::filesystem::u8path(out->tempPath), ignored);
}

std::string OutputName(const OutputFile& out) {
  return out.toStdout ? "standard output" : out.path;
}

std::FILE* MessageStream(const OutputFile& out) {
  return out.toStdout ? stderr : stdout;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code code;
  return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b), code) && !code;
}

}  // namespace tool
