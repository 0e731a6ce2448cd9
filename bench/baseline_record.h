// The baseline writer's record: the same bytes the receiver stores for a
// frame, built where the frame lies so that writing it is the only copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// Bytes a buffer keeps in front of the frame for TurnFrameIntoRecord.
constexpr size_t kRecordHeadroom = 2;

// buffer[kRecordHeadroom, kRecordHeadroom + n) holds a frame of n bytes
// (2 <= n <= 65535); afterwards buffer[0, n + 2) holds its capture record.
void TurnFrameIntoRecord(uint8_t* buffer, uint16_t n);

}  // namespace bench
