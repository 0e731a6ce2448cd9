// Finds every trustworthy record of a damaged capture, for repair.
//
// A plain walk stops at the first damage. The recovery scan goes on: after
// damage it searches forward for the place where whole records resume and
// continues from there, so a damaged byte costs only the record that holds
// it. Records carry no checksum, so a record is trusted by its neighbours:
//
// - a record is "sound" when it starts with 'J', its length is at least 2
//   and it ends within the file;
// - walking from a trusted place, a record is kept when the record after it
//   is sound (or it ends exactly at the end of the file), so a damaged length
//   field cannot swallow the records behind it;
// - after damage, the walk resumes at the first place where kAnchorRecords
//   sound records follow one another (or fewer that end exactly at the end of
//   the file): chance bytes inside a payload almost never line up like that.
// - When the walk breaks, it is either the next header that is damaged or
//   the length of one of the last records before it; the gap to the resume
//   point tells which, since a single damaged byte leaves a length that
//   differs from the true one in one byte. The records before the damage are
//   kept, the damaged record and anything unexplained are dropped. The last
//   record before an unexplained gap is kept when its end is shown to be a
//   true boundary: the damaged record after it still starts with 'J', its
//   length is the one of the records around it, or the gap is a fill (a
//   zeroed tail) that does not reach back into it.
// - A damaged length can also lead exactly onto a later record boundary and
//   lie over the records in between; they show as a chain of at least two
//   sound records inside it that ends where it ends. A record lying over
//   just one record is not told from a payload that happens to hold one.
//
// Every input byte ends up either in a kept record or in a dropped range,
// in file order. A damaged byte inside a payload cannot be seen: that record
// is kept as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace capture {

// Sound records in a row that mark the place where records resume.
constexpr size_t kAnchorRecords = 3;

enum class RecoveryEvent {
  kRecord,     // a record to keep, in *record
  kDropped,    // a range of bytes that held no trustworthy record, in *dropped
  kEnd,        // the whole input was accounted for
  kReadError,  // the operating system failed a read; *dropped->reason says why
};

struct DroppedRange {
  uint64_t offset = 0;  // where the dropped bytes start
  uint64_t length = 0;
  uint64_t index = 0;    // the number of records kept before them
  uint64_t record = 0;   // the input's record number where they start: kept and lost records before them
  uint64_t records = 0;  // the records they held, as far as can be told (inserted bytes hold none)
  std::string reason;    // the first problem found there, one line
};

struct HeldRecord {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct RecoveryScanner {
  std::FILE* file = nullptr;
  // The input's bytes [windowStart, windowStart + windowSize) read so far and
  // still needed; bytes before retainFrom may be discarded.
  std::vector<uint8_t> window;
  uint64_t windowStart = 0;
  size_t windowSize = 0;
  uint64_t retainFrom = 0;
  bool atEof = false;
  std::string readError;
  // The walk: the next header to look at, and the last records on the chain
  // whose fate depends on what follows them (at most two).
  uint64_t position = 0;
  uint64_t undecided[2] = {};
  size_t undecidedSize[2] = {};
  size_t undecidedCount = 0;
  uint64_t kept = 0;
  uint64_t lost = 0;  // records in the dropped ranges so far
  bool finished = false;
  // Outcomes worked out at a break or at the end, handed out one per call.
  std::vector<HeldRecord> heldRecords;
  size_t heldNext = 0;
  bool droppedPending = false;
  DroppedRange pendingDrop;
};

// Takes over an open file (or standard input: it is read once, in order);
// CloseRecoveryScanner closes it.
void AttachRecoveryScanner(std::FILE* file, RecoveryScanner* scanner);

// The next outcome, in file order. A kRecord's bytes stay valid until the
// next call; record->index counts kept records, record->offset is where the
// record stood in the input.
RecoveryEvent NextRecovered(RecoveryScanner* scanner, CaptureRecordView* record, DroppedRange* dropped);

void CloseRecoveryScanner(RecoveryScanner* scanner);

}  // namespace capture
