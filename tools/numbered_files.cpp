#include "numbered_files.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tool {

namespace {

namespace fs = std::filesystem;

constexpr char kSuffix[] = ".bin";

int DigitsOf(uint64_t value) {
  int digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

fs::path DirOf(const NumberedFiles& files) {
  const fs::path parent = fs::u8path(files.prefix).parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

std::string NamePrefix(const NumberedFiles& files) {
  return fs::u8path(files.prefix).filename().u8string();
}

// namePrefix, then digits (exactly `digits` of them, or at least minDigits
// when digits is 0), then the suffix.
bool IsNumberedName(const std::string& namePrefix, const std::string& name, size_t digits, size_t minDigits) {
  const std::string suffix = kSuffix;
  if (name.size() <= namePrefix.size() + suffix.size()) return false;
  if (name.compare(0, namePrefix.size(), namePrefix) != 0) return false;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  const size_t count = name.size() - namePrefix.size() - suffix.size();
  if (digits != 0 ? count != digits : count < minDigits) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(namePrefix.size()),
                     name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                     [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string NumberedPath(const NumberedFiles& files, uint64_t number, int width) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*" PRIu64, width, number);
  return files.prefix + digits + kSuffix;
}

bool FindNumberedFiles(const NumberedFiles& files, std::vector<std::string>* found, std::string* error) {
  const fs::path dir = DirOf(files);
  const std::string namePrefix = NamePrefix(files);
  std::error_code code;
  if (!fs::is_directory(dir, code)) return true;
  for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
    const std::string name = it->path().filename().u8string();
    // Named as the prefix was given, so that messages show the user's own
    // spelling of the folder.
    if (IsNumberedName(namePrefix, name, static_cast<size_t>(files.baseWidth), 0) &&
        it->is_regular_file(code))
      found->push_back(files.prefix + name.substr(namePrefix.size()));
  }
  std::sort(found->begin(), found->end());
  if (code) *error = "cannot list " + dir.u8string() + ": " + code.message();
  return !code;
}

bool DeleteNumberedFiles(const std::vector<std::string>& found, const char* what, std::string* error) {
  for (const std::string& path : found) {
    std::error_code code;
    if (!fs::remove(fs::u8path(path), code) && code) {
      *error = "cannot delete " + path + ": " + code.message();
      return false;
    }
    std::printf("deleted %s %s\n", what, path.c_str());
  }
  return true;
}

bool RemoveWrittenFiles(const NumberedFiles& files, uint64_t count, std::string* error) {
  for (uint64_t number = 0; number < count; ++number) {
    std::error_code code;
    if (!fs::remove(fs::u8path(NumberedPath(files, number, files.baseWidth)), code) && code) {
      *error = "cannot delete " + NumberedPath(files, number, files.baseWidth) + ": " + code.message();
      return false;
    }
  }
  return true;
}

bool IsNumberedFile(const NumberedFiles& files, const std::string& path) {
  const fs::path given = fs::u8path(path);
  if (!IsNumberedName(NamePrefix(files), given.filename().u8string(), 0,
                      static_cast<size_t>(files.baseWidth))) {
    return false;
  }
  const fs::path parent = given.parent_path().empty() ? fs::path(".") : given.parent_path();
  std::error_code code;
  return fs::equivalent(parent, DirOf(files), code) && !code;
}

bool WidenNumberedNames(const NumberedFiles& files, uint64_t count, std::string* error) {
  const int width = count == 0 ? files.baseWidth : std::max(files.baseWidth, DigitsOf(count - 1));
  // Numbers below 10^(width - 1) were written with fewer digits.
  for (uint64_t number = 0; number < count && DigitsOf(number) < width; ++number) {
    std::error_code code;
    fs::rename(fs::u8path(NumberedPath(files, number, files.baseWidth)),
               fs::u8path(NumberedPath(files, number, width)), code);
    if (code) {
      *error = "cannot rename " + NumberedPath(files, number, files.baseWidth) + ": " + code.message();
      return false;
    }
  }
  return true;
}

}  // namespace tool
