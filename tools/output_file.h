// Writes a file so that it appears whole or not at all: the bytes go to a
// temporary file beside the target, which is renamed over it at the end.
// A crash or an error never leaves a half-written result under the target's
// name. The name "-" writes to standard output instead, and an existing
// target that is not a regular file (a device such as /dev/null or NUL, a
// FIFO) is written directly: renaming over it would replace it with a plain
// file, and on Windows NUL.tmp0 is itself the null device.
// Error texts name no file: the caller names the target, never the
// temporary file the user has not heard of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

struct OutputFile {
  std::string path;      // the final name
  std::string tempPath;  // where the bytes go until CommitOutputFile
  std::FILE* file = nullptr;
  bool toStdout = false;
  bool direct = false;           // no temporary file: standard output, a device, a FIFO
  bool sync = true;              // force the bytes to the disk before the rename
  std::vector<uint8_t> pending;  // written but not yet handed to the file
};

bool CreateOutputFile(const std::string& path, OutputFile* out, std::string* error);

bool WriteOutput(OutputFile* out, const void* data, size_t size, std::string* error);

// Hands everything written so far to the system (no sync), so a reader of
// the output sees it now.
bool FlushOutput(OutputFile* out, std::string* error);

// Flushes the data (to the disk when out->sync) and closes the temporary
// file, leaving it in place (so a caller can do more before the rename).
bool CloseOutputFile(OutputFile* out, std::string* error);

// Closes (if still open) and renames the temporary file over the target.
// On failure the temporary file is deleted and the target left untouched.
bool CommitOutputFile(OutputFile* out, std::string* error);

// Closes and deletes the temporary file; the target is left untouched.
void AbandonOutputFile(OutputFile* out);

// How the output is named in messages: "standard output" for "-".
std::string OutputName(const OutputFile& out);

// Where a command's own messages go: standard error when its output is
// standard output, so they never mix with the data.
std::FILE* MessageStream(const OutputFile& out);

// True when a and b name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tool
