// Files numbered in order, PREFIX000000.bin, PREFIX000001.bin, ...: the
// frame files of an export and the parts of a split. The numbers are
// zero-padded so the names sort in order; when more files come than the
// padding allows, the earlier names are widened at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct NumberedFiles {
  std::string prefix;  // directory and the name up to the number: "out/frame_"
  int baseWidth = 6;   // digits in the names while writing
};

std::string NumberedPath(const NumberedFiles& files, uint64_t number, int width);

// The files that a new run would write first and that already exist: names
// of exactly baseWidth digits (PREFIX00001.bin, not PREFIX1.bin or
// PREFIX123456789.bin). False with *error when their directory cannot be
// listed (a missing directory holds none).
bool FindNumberedFiles(const NumberedFiles& files, std::vector<std::string>* found, std::string* error);

// Deletes what FindNumberedFiles found, printing "deleted <what> PATH" on
// standard output for each.
bool DeleteNumberedFiles(const std::vector<std::string>& found, const char* what, std::string* error);

// Deletes the first `count` files a run wrote (before any widening) after
// it failed; false with *error at a file it could not delete.
bool RemoveWrittenFiles(const NumberedFiles& files, uint64_t count, std::string* error);

// True when path is one of the names this numbering may write, existing or
// not: at least baseWidth digits.
bool IsNumberedFile(const NumberedFiles& files, const std::string& path);

// After `count` files: renames those written with fewer digits than the
// last number needs, so all names sort in order.
bool WidenNumberedNames(const NumberedFiles& files, uint64_t count, std::string* error);

}  // namespace tool
