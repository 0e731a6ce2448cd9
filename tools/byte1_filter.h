// --byte1 N[,M...]: keeps only the frames whose byte 1 (the message type
// most masters put there) is one of the values given, and counts the
// others, so each command can say how many it left out. Every command that
// takes the option selects through here, record by record or, split by a
// frame size, frame by frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tool_args.h"

namespace tool {

struct Byte1Filter {
  bool active = false;   // --byte1 was given
  bool keep[256] = {};   // the values given
  uint64_t leftOut = 0;  // frames that were not kept
};

// Reads --byte1 (values 0..255, decimal or 0x hex, separated by ',') into
// *filter. On a bad value, says so and returns false; the caller exits with
// kExitUsage.
bool Byte1Option(const ParsedArgs& args, const char* command, Byte1Filter* filter);

// Whether a frame of length bytes whose byte 1 is byte1 is kept (always
// without --byte1); a frame of one byte has no byte 1 and is left out.
bool KeepsFrame(Byte1Filter* filter, size_t length, uint8_t byte1);

// "N records left out by --byte1" (noun "record" or "frame"); empty
// without --byte1.
std::string LeftOutText(const Byte1Filter& filter, const char* noun);

}  // namespace tool
