#include "rx_buffer.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// A ring position from one that may have run up to one capacity past the end.
size_t Wrap(size_t position) {
  return position >= kRxCapacity ? position - kRxCapacity : position;
}

}  // namespace

void InitRxBuffer(RxBuffer* buffer) {
  buffer->bytes.assign(kRxCapacity, 0);
  buffer->head = 0;
  buffer->size = 0;
}

size_t RxPush(RxBuffer* buffer, const uint8_t* data, size_t size) {
  const size_t stored = std::min(size, RxFree(*buffer));
  if (stored == 0) return 0;
  const size_t tail = Wrap(buffer->head + buffer->size);
  const size_t first = std::min(stored, kRxCapacity - tail);
  std::memcpy(buffer->bytes.data() + tail, data, first);
  if (stored > first) std::memcpy(buffer->bytes.data(), data + first, stored - first);
  buffer->size += stored;
  return stored;
}

size_t RxPop(RxBuffer* buffer, uint8_t* out, size_t size) {
  const size_t taken = std::min(size, buffer->size);
  if (taken == 0) return 0;
  const size_t first = std::min(taken, kRxCapacity - buffer->head);
  std::memcpy(out, buffer->bytes.data() + buffer->head, first);
  if (taken > first) std::memcpy(out + first, buffer->bytes.data(), taken - first);
  buffer->head = Wrap(buffer->head + taken);
  buffer->size -= taken;
  if (buffer->size == 0) buffer->head = 0;  // keeps the next frame contiguous
  return taken;
}

uint8_t* RxFillEmpty(RxBuffer* buffer, size_t size) {
  if (buffer->size != 0 || size > kRxCapacity) return nullptr;
  buffer->head = 0;
  buffer->size = size;
  return buffer->bytes.data();
}

}  // namespace sim
