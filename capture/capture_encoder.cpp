#include "capture_encoder.h"

#include "capture_format.h"

namespace capture {

bool EncodeCaptureRecord(const uint8_t* frame, size_t n, std::vector<uint8_t>* out, std::string* error) {
  if (n < kMinFrameLength || n > kMaxFrameLength) {
    *error = "frame length " + std::to_string(n) + " is outside 2..65535";
    return false;
  }
  if (frame[0] != kFrameMarker) {
    *error = "frame does not start with 'J'";
    return false;
  }
  uint8_t header[kRecordHeaderSize];
  PutRecordHeader(frame, n, header);
  out->insert(out->end(), header, header + kRecordHeaderSize);
  out->insert(out->end(), frame + 2, frame + n);
  return true;
}

}  // namespace capture
