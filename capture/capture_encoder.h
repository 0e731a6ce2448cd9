// Turns frames into capture records (capture_format.h), checking that each
// frame can be stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// Appends the record for frame[0..n) to *out. Fails, leaving *out as it
// was, when n is outside 2..65535 or the frame does not start with 'J'.
bool EncodeCaptureRecord(const uint8_t* frame, size_t n, std::vector<uint8_t>* out, std::string* error);

}  // namespace capture
