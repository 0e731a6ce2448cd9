// The record format of capture files, defined once for everything that
// writes or reads them: the receiver's writer, spi-capture, the simulator's
// replay, the benchmarks and the tests. The format in prose, with its
// reasons: capture-format.md beside this file.
//
// In short: records back to back, one per stored frame; a frame of n bytes
// (kMinFrameLength <= n <= kMaxFrameLength) whose first byte is kFrameMarker
// is stored as its bytes 0 and 1, then n as 16 bits little-endian, then its
// bytes 2 to n - 1, so a record is n + 2 bytes.
//
// Header-only and standard-library-only, so that the receiver can use it
// without linking the capture library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture {

constexpr uint8_t kFrameMarker = 'J';      // the first byte of every stored frame
constexpr size_t kMinFrameLength = 2;      // the record holds the frame's first two bytes
constexpr size_t kMaxFrameLength = 65535;  // the length field has 16 bits
constexpr size_t kRecordHeaderSize = 4;    // the frame's bytes 0 and 1, the length

// The size of the record of an n-byte frame: the frame and its length field.
constexpr size_t RecordSize(size_t n) {
  return n + 2;
}
constexpr size_t kMaxRecordSize = RecordSize(kMaxFrameLength);

// Bytes a buffer keeps in front of a frame for MakeRecordInPlace.
constexpr size_t kFrameHeadroom = 2;

// The record's first kRecordHeaderSize bytes for a frame of n bytes.
inline void PutRecordHeader(const uint8_t* frame, size_t n, uint8_t* header) {
  header[0] = frame[0];
  header[1] = frame[1];
  header[2] = static_cast<uint8_t>(n & 0xFF);
  header[3] = static_cast<uint8_t>(n >> 8);
}

// buffer[kFrameHeadroom, kFrameHeadroom + n) holds a frame of n bytes;
// afterwards buffer[0, n + 2) holds its record, and writing it is the only
// copy. The frame's bytes 0 and 1 move to the front, the length takes their
// place.
inline void MakeRecordInPlace(uint8_t* buffer, size_t n) {
  PutRecordHeader(buffer + kFrameHeadroom, n, buffer);
}

// The frame length a record header gives.
inline size_t RecordFrameLength(const uint8_t* header) {
  return static_cast<size_t>(header[2]) | (static_cast<size_t>(header[3]) << 8);
}

}  // namespace capture
