#include "baseline_record.h"

namespace bench {

void TurnFrameIntoRecord(uint8_t* buffer, uint16_t n) {
  // Frame bytes 0 and 1 move to the front; the length takes their place.
  buffer[0] = buffer[kRecordHeadroom];
  buffer[1] = buffer[kRecordHeadroom + 1];
  buffer[2] = static_cast<uint8_t>(n & 0xFF);
  buffer[3] = static_cast<uint8_t>(n >> 8);
}

}  // namespace bench
