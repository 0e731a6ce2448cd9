// Reads capture files (the format: capture_format.h) record by record, in
// constant memory.
//
// Every length is checked before it is trusted: a record that does not start
// with 'J', a length below 2, or a record that runs past the end of the file
// is reported as damage, with its byte offset and record index.
//
// The file may still be growing (a viewer following a live capture): after
// kEnd, a later call picks up records appended since; after a torn last
// record, ResumeCaptureReader lets the next call try that record again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture_format.h"

namespace capture {

enum class ReadOutcome {
  kRecord,  // a whole record was read
  kEnd,     // clean end: the file ends on a record boundary
  kDamage,  // the bytes at the reported offset are not a valid record
};

enum class DamageKind {
  kNone,
  kNotJ,            // the record's first byte is not 'J'
  kLengthTooSmall,  // the length field is 0 or 1
  kTornHeader,      // the file ends within a record's first 4 bytes
  kTornPayload,     // the file ends within a record's payload
  kReadError,       // the operating system failed the read
};

struct Damage {
  DamageKind kind = DamageKind::kNone;
  uint64_t offset = 0;  // byte offset of the damaged record's start
  uint64_t index = 0;   // 0-based index of the damaged record
  std::string message;  // one line, without the file name, offset or index
};

struct CaptureRecord {
  uint64_t index = 0;          // 0-based position in the file
  uint64_t offset = 0;         // byte offset of the record's first byte
  std::vector<uint8_t> frame;  // the frame as the master sent it (n bytes)
};

// A record as it is stored, read without copying: bytes points at the whole
// record (header included) inside the reader's buffer, valid until the next
// call on the reader.
struct CaptureRecordView {
  uint64_t index = 0;
  uint64_t offset = 0;
  const uint8_t* bytes = nullptr;
  size_t size = 0;  // n + 2
};

// The stored frame's length n, and its byte i (i < n): the record holds
// frame bytes 0 and 1, the length field, then frame bytes 2 to n - 1.
inline size_t ViewFrameLength(const CaptureRecordView& view) {
  return view.size - 2;
}
inline uint8_t ViewFrameByte(const CaptureRecordView& view, size_t i) {
  return view.bytes[i < 2 ? i : i + 2];
}

// Appends frame bytes [begin, end) of the viewed record to *out.
void AppendViewFrame(const CaptureRecordView& view, size_t begin, size_t end, std::vector<uint8_t>* out);

struct CaptureReader {
  std::FILE* file = nullptr;
  uint64_t offset = 0;  // offset of the next record
  uint64_t index = 0;   // index of the next record
  Damage damage;        // set once kDamage was returned
  // Read-ahead: buffer[begin, end) holds the file's bytes from offset on that
  // were read but not yet consumed. Reading in large blocks is what keeps
  // the walk fast; a torn record's bytes stay here for a later retry.
  std::vector<uint8_t> buffer;
  size_t begin = 0;
  size_t end = 0;
};

// Opens path for reading; on failure returns false and sets *error.
bool OpenCaptureReader(const std::string& path, CaptureReader* reader, std::string* error);

// Reads the next record into *record (its frame buffer is reused, so a walk
// allocates at most once). After kDamage, reader->damage tells what and
// where; further calls return kDamage again.
ReadOutcome ReadCaptureRecord(CaptureReader* reader, CaptureRecord* record);

// As ReadCaptureRecord, but hands out the stored record in place: for tools
// that copy records or look at a few bytes of each, at no copying cost.
ReadOutcome ReadCaptureRecordView(CaptureReader* reader, CaptureRecordView* view);

void CloseCaptureReader(CaptureReader* reader);

// Makes the reader take over an already open file (e.g. from fmemopen);
// CloseCaptureReader closes it.
void AttachCaptureReader(std::FILE* file, CaptureReader* reader);

// After a torn last record (kTornHeader or kTornPayload), clears the damage
// so the next ReadCaptureRecord tries that record again with whatever was
// appended meanwhile. Returns false, and changes nothing, for any other
// damage: those do not heal by waiting.
bool ResumeCaptureReader(CaptureReader* reader);

bool IsTornTail(DamageKind kind);

// "offset 1234 (record 5): length 1 is below 2"
std::string FormatDamage(const Damage& damage);

// Parses the record at the start of data[0..size) without reading past size.
// Returns kRecord and the record's total size in *recordSize, kEnd when size
// is 0, or kDamage with damage->kind set (offset and index left 0).
ReadOutcome ParseCaptureRecord(const uint8_t* data, size_t size, size_t* recordSize, Damage* damage);

}  // namespace capture
