// Opening the inputs of spi-capture: a capture file, or standard input when
// the name is "-" (read once, as a stream).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace tool {

// "-": standard input as an input, standard output as an output.
bool IsStdio(const std::string& path);

// How a file is named in messages: "standard input" for "-".
std::string InputName(const std::string& path);

// Opens path for reading in binary; a directory is refused. On failure
// returns null and sets *error to "NAME: reason".
std::FILE* OpenInput(const std::string& path, std::string* error);

// OpenInput, handed to a capture reader.
bool OpenCaptureInput(const std::string& path, capture::CaptureReader* reader, std::string* error);

// The input's size when it is a regular file, else 0 (unknown).
uint64_t KnownInputSize(std::FILE* file);

// The bytes of the reader's input from reader.offset to its end: from its
// size when known, else by reading the rest.
uint64_t BytesLeft(const capture::CaptureReader& reader);

// True when out names one of the inputs (the same name, or the same existing
// file under another name). Standard input and output never collide.
bool OutputIsInput(const std::string& out, const std::vector<std::string>& inputs);

// For a usage error of that kind: says so and returns kExitUsage.
int RefuseOutputIsInput(const std::string& out);

}  // namespace tool
