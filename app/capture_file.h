// The capture file: the receiver's only product.
//
// The file is a plain concatenation of records, one per stored 'J' frame, in
// the order the frames were read, with no header, trailer or padding. A
// record stores a frame of n bytes (2 <= n <= 65535):
//
//   offset 0      1 byte   frame byte 0, always 'J' (0x4A)
//   offset 1      1 byte   frame byte 1
//   offset 2      2 bytes  n, little-endian: the length of the whole frame
//   offset 4  n - 2 bytes  frame bytes 2 to n - 1
//
// so a record is n + 2 bytes. A reader walks the file by reading 4 bytes,
// taking n from bytes 2 and 3, then reading n - 2 further bytes.
//
// Each record is handed to the operating system as soon as it is appended,
// so another process reading the file sees every complete record at once.
// Appends and the interrupt's exit exclude each other (FreezeCaptureWrites),
// so a file always ends on a record boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

// Creates the file, or empties an existing one, for binary writing. Other
// processes may open it for reading or writing meanwhile. On failure returns
// false with the system's reason in *error, and the stream stays failed.
bool OpenCaptureFile(std::ofstream& stream, const std::string& name, std::string* error);

// Appends the record for frame[0..n) (n >= 2) and hands it to the operating
// system. On failure returns false with the reason in *error; the file may
// then hold part of this record, and no other append and no interrupt exit
// can proceed until the caller has called CutCaptureFile.
bool AppendCaptureRecord(std::ofstream& stream, const uint8_t* frame, uint16_t n, std::string* error);

// The receive loop's way, without copying the frame: a frame of n bytes read
// to recordBuffer + kFrameOffset becomes its record in place (the frame's
// first bytes are moved) and leaves in one write. recordBuffer holds at least
// kRecordBufferSize bytes.
constexpr size_t kFrameOffset = 2;
constexpr size_t kRecordBufferSize = kFrameOffset + 65535;
bool AppendCaptureRecordInPlace(std::ofstream& stream, uint8_t* recordBuffer, uint16_t n, std::string* error);

// The put position: bytes written so far, or -1 when the stream has failed.
int64_t CaptureFilePosition(std::ofstream& stream);

void CloseCaptureFile(std::ofstream& stream);

// After a failed append: closes the stream and cuts the file back to size,
// the end of its last complete record, so that it stays walkable. Lets
// appends and the interrupt's exit go on again.
bool CutCaptureFile(std::ofstream& stream, const std::string& name, int64_t size, std::string* error);

// Waits for an append under way to finish and keeps any later one from
// starting, for good. The interrupt calls it just before ending the process.
void FreezeCaptureWrites();
