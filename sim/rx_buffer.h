// The bridge's receive buffer: what the master has sent and the receiver has
// not read yet. Its fill level is reported in 16 bits, so it holds at most
// 65535 bytes; bytes arriving at a full buffer are lost, as on the chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr size_t kRxCapacity = 65535;

struct RxBuffer {
  std::vector<uint8_t> bytes;  // ring of kRxCapacity bytes
  size_t head = 0;             // index of the oldest pending byte
  size_t size = 0;             // pending bytes
};

void InitRxBuffer(RxBuffer* buffer);

inline size_t RxFree(const RxBuffer& buffer) {
  return kRxCapacity - buffer.size;
}

// Appends as much of data as fits and returns how much that was.
size_t RxPush(RxBuffer* buffer, const uint8_t* data, size_t size);

// Moves up to size of the oldest pending bytes to out and returns how many.
size_t RxPop(RxBuffer* buffer, uint8_t* out, size_t size);

// For a source that writes a frame in place: when the buffer is empty, makes
// size bytes (<= kRxCapacity) pending and returns where to write them; null
// when the buffer is not empty.
uint8_t* RxFillEmpty(RxBuffer* buffer, size_t size);

}  // namespace sim
