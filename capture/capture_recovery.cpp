#include "capture_recovery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform.h"

namespace capture {

namespace {

// Room for the two undecided records, the one being checked and the
// records that anchor a resume point, with plenty to spare so refills are
// large.
constexpr size_t kWindowCapacity = 1024 * 1024;
static_assert(kWindowCapacity >= (kAnchorRecords + 4) * kMaxRecordSize, "window too small");

constexpr size_t kScanChunk = 64 * 1024;

// Makes the window hold the input's bytes [from, from + count) as far as the
// input has them and returns how many of them it holds (fewer only at the
// end of the input, or after a read error). Bytes before
// min(from, retainFrom) may be discarded.
size_t Ensure(RecoveryScanner* s, uint64_t from, size_t count) {
  if (from < s->windowStart) return 0;  // never asked for: the walk only goes forward
  const uint64_t want = from + count;
  while (s->windowStart + s->windowSize < want && !s->atEof) {
    const uint64_t keep = std::min(s->retainFrom, from);
    if (keep > s->windowStart) {
      const size_t discard = static_cast<size_t>(std::min<uint64_t>(keep - s->windowStart, s->windowSize));
      std::memmove(s->window.data(), s->window.data() + discard, s->windowSize - discard);
      s->windowStart += discard;
      s->windowSize -= discard;
    }
    // Grows as needed, so a small input costs little.
    while (s->window.size() < kWindowCapacity &&
           (s->window.size() - s->windowSize < kScanChunk || s->windowStart + s->window.size() < want)) {
      s->window.resize(std::min(kWindowCapacity, std::max<size_t>(2 * s->window.size(), kScanChunk)));
    }
    const size_t space = s->window.size() - s->windowSize;
    if (space == 0) break;
    errno = 0;
    const size_t got = std::fread(s->window.data() + s->windowSize, 1, space, s->file);
    s->windowSize += got;
    if (got == 0) {
      s->atEof = true;
      if (std::ferror(s->file)) {
        s->readError = "read failed: " + platform::ErrorText(errno != 0 ? errno : EIO);
      }
    }
  }
  const uint64_t end = s->windowStart + s->windowSize;
  if (from >= end) return 0;
  return static_cast<size_t>(std::min<uint64_t>(count, end - from));
}

const uint8_t* At(const RecoveryScanner& s, uint64_t offset) {
  return s.window.data() + (offset - s.windowStart);
}

bool IsEnd(RecoveryScanner* s, uint64_t offset) {
  return Ensure(s, offset, 1) == 0;
}

// The size of the record at offset when it is sound, else 0 with the reason
// in *damage (when given).
size_t SoundSize(RecoveryScanner* s, uint64_t offset, Damage* damage = nullptr) {
  const size_t available = Ensure(s, offset, kMaxRecordSize);
  size_t size = 0;
  Damage parsed;
  const uint8_t* bytes = available > 0 ? At(*s, offset) : nullptr;
  const ReadOutcome outcome = ParseCaptureRecord(bytes, available, &size, &parsed);
  if (damage != nullptr) *damage = parsed;
  return outcome == ReadOutcome::kRecord ? size : 0;
}

// Whether records resume at offset: kAnchorRecords sound records in a row,
// or at least one and then exactly the end of the input.
bool IsAnchor(RecoveryScanner* s, uint64_t offset) {
  uint64_t at = offset;
  for (size_t i = 0; i < kAnchorRecords; ++i) {
    if (i > 0 && IsEnd(s, at)) return true;
    const size_t size = SoundSize(s, at);
    if (size == 0) return false;
    at += size;
  }
  return true;
}

// Whether the sound records from start on end exactly at end, and how many
// there are until then.
bool ChainEndsAt(RecoveryScanner* s, uint64_t start, uint64_t end, size_t* records) {
  uint64_t at = start;
  size_t next;
  *records = 0;
  while (at < end && (next = SoundSize(s, at)) > 0) {
    at += next;
    ++*records;
  }
  return at == end;
}

// The earliest place inside the sound record at offset where a chain of
// sound records starts that ends exactly where the record ends: the record
// lies over records, so it is not what it seems.
bool InnerChainStart(RecoveryScanner* s, uint64_t offset, size_t size, uint64_t* start) {
  const uint64_t end = offset + size;
  uint64_t at = offset + 1;
  while (at + kRecordHeaderSize <= end) {
    const uint8_t* base = At(*s, at);
    const void* marker = std::memchr(base, kFrameMarker, static_cast<size_t>(end - at));
    if (marker == nullptr) return false;
    at += static_cast<size_t>(static_cast<const uint8_t*>(marker) - base);
    size_t records = 0;
    if (ChainEndsAt(s, at, end, &records) && records > 0) {
      *start = at;
      return true;
    }
    ++at;
  }
  return false;
}

// The first anchor at or after from, or the end of the input (*atEnd).
uint64_t FindResume(RecoveryScanner* s, uint64_t from, bool* atEnd) {
  uint64_t at = from;
  for (;;) {
    s->retainFrom = at;
    const size_t available = Ensure(s, at, kScanChunk);
    if (available == 0) {
      *atEnd = true;
      return at;
    }
    const uint8_t* base = At(*s, at);
    const void* marker = std::memchr(base, kFrameMarker, available);
    if (marker == nullptr) {
      at += available;
      continue;
    }
    at += static_cast<size_t>(static_cast<const uint8_t*>(marker) - base);
    if (IsAnchor(s, at)) {
      // A chance 'J' in a payload whose length happens to land on a true
      // boundary looks like an anchor too, but the true records it lies
      // over show inside it; resume at them instead.
      uint64_t inner = 0;
      while (InnerChainStart(s, at, SoundSize(s, at), &inner)) at = inner;
      *atEnd = false;
      return at;
    }
    ++at;
  }
}

// A single damaged byte changes one of a length's two bytes.
bool OneByteOff(size_t claimed, uint64_t distance) {
  if (distance < kMinFrameLength || distance > kMaxFrameLength) return false;
  const uint64_t diff = claimed ^ distance;
  return diff != 0 && ((diff & 0xff) == 0 || (diff & 0xff00) == 0);
}

// Whether a damaged header at breakAt explains the gap to the resume point:
// its length leads there (its first byte is what was hit), or it starts with
// 'J' and its length is off by one byte, or it is a record torn off by the
// end of the input.
bool GapIsOneRecord(const uint8_t* head, size_t headSize, uint64_t breakAt, uint64_t resume, bool atEnd) {
  if (resume <= breakAt || headSize == 0) return false;
  if (headSize < kRecordHeaderSize) return atEnd && head[0] == kFrameMarker;
  const size_t claimed = RecordFrameLength(head);
  const uint64_t distance = resume - breakAt - 2;
  if (head[0] != kFrameMarker) return claimed == distance;
  return OneByteOff(claimed, distance) || (atEnd && breakAt + RecordSize(claimed) > resume);
}

// Whether the sound record at offset swallowed records that follow it: its
// length, off by one damaged byte, may lead exactly to a true record
// boundary further on, past the true records in between. They show as a
// chain of sound records that starts inside it, at a distance one byte off
// its length, and ends exactly where it ends. Sets *resume to that start.
// The chain must hold at least two records: one record that happens to end
// there turns up in ordinary payloads far more often than a damaged length
// that swallows exactly one record.
bool SwallowsRecords(RecoveryScanner* s, uint64_t offset, size_t size, uint64_t* resume) {
  const size_t claimed = size - 2;
  const uint64_t end = offset + size;
  // Every frame length one byte off the claimed one and shorter than it:
  // each low byte under the same high byte, then each smaller high byte.
  for (int round = 0; round < 2; ++round) {
    for (size_t value = 0; value < 256; ++value) {
      const size_t length = round == 0 ? (claimed & 0xff00) | value : (value << 8) | (claimed & 0xff);
      if (length >= claimed || length < kMinFrameLength || (round == 1 && length >> 8 == claimed >> 8))
        continue;
      const uint64_t start = offset + RecordSize(length);
      if (*At(*s, start) != kFrameMarker) continue;
      size_t records = 0;
      if (ChainEndsAt(s, start, end, &records) && records >= 2) {
        *resume = start;
        return true;
      }
    }
  }
  return false;
}

// Where the run of one fill byte (0x00, as a power loss leaves, or 0xff, as
// erased flash reads) that starts at offset ends; offset itself when there
// is none. Looks no further than the window holds without letting go of
// the undecided records.
uint64_t FillEnd(RecoveryScanner* s, uint64_t offset) {
  constexpr size_t kFillLook = 64 * 1024;
  const size_t available = Ensure(s, offset, kFillLook);
  if (available == 0) return offset;
  const uint8_t* bytes = At(*s, offset);
  if (bytes[0] != 0x00 && bytes[0] != 0xff) return offset;
  size_t n = 1;
  while (n < available && bytes[n] == bytes[0]) ++n;
  return offset + n;
}

// Whether the last undecided record, which ends at breakAt, ends where its
// length says, though no single damaged byte explains the gap after it. Its
// length could be the damage, leading the walk to a wrong place, so it is
// kept only on evidence that its end is a true boundary: the damaged record
// after it still starts with 'J'; its length is the one of the records
// around it (frames of one size); or the gap is a fill to the resume point
// that does not reach back into it. When its length is one byte off the
// distance to the resume point, the evidence must be stronger: the records
// on both sides, or the one before and a fill.
bool EndsSoundly(RecoveryScanner* s, size_t count, uint64_t breakAt, const uint8_t* head, uint64_t fillEnd,
                 uint64_t resume, bool atEnd, bool lastOff) {
  if (resume <= breakAt && !atEnd) return false;  // the run resumes inside it
  const HeldRecord& last = s->heldRecords[count - 1];
  const bool fillBegins = fillEnd > breakAt;
  // A fill may have begun inside the record: it would look whole.
  if (fillBegins && last.bytes.back() == head[0]) return false;
  const bool filled = fillBegins && fillEnd >= resume;
  const size_t length = last.bytes.size();
  size_t neighbours = 0;
  bool regular = true;
  if (count == 2) {
    ++neighbours;
    regular = s->heldRecords[0].bytes.size() == length;
  }
  if (!atEnd) {
    ++neighbours;
    regular = regular && SoundSize(s, resume) == length;
  }
  regular = regular && neighbours > 0;
  if (lastOff) return regular && (neighbours == 2 || filled);
  return regular || filled || head[0] == kFrameMarker;
}

void HoldRecord(RecoveryScanner* s, uint64_t offset, size_t size) {
  HeldRecord held;
  held.offset = offset;
  const uint8_t* bytes = At(*s, offset);
  held.bytes.assign(bytes, bytes + size);
  s->heldRecords.push_back(std::move(held));
}

// The walk could not go on at s->position. Finds where records resume,
// decides which of the undecided records before the break to keep, and
// queues them and the dropped range.
void HandleBreak(RecoveryScanner* s) {
  const uint64_t breakAt = s->position;
  Damage damage;
  SoundSize(s, breakAt, &damage);
  uint8_t head[kRecordHeaderSize] = {};
  const size_t headSize = Ensure(s, breakAt, kRecordHeaderSize);
  std::memcpy(head, At(*s, breakAt), headSize);

  s->heldRecords.clear();
  s->heldNext = 0;
  const size_t count = s->undecidedCount;
  for (size_t i = 0; i < count; ++i) HoldRecord(s, s->undecided[i], s->undecidedSize[i]);
  s->undecidedCount = 0;
  const uint64_t fillEnd = FillEnd(s, breakAt);

  bool atEnd = false;
  const uint64_t resume = FindResume(s, count > 0 ? s->undecided[0] + 1 : breakAt + 1, &atEnd);

  // Which damage explains the gap: the header at the break (keep every
  // record before it), the last record's length, or, when the walk went
  // astray one record earlier, the length of the one before it.
  size_t keep = count;
  const bool explained = GapIsOneRecord(head, headSize, breakAt, resume, atEnd);
  if (count > 0 && !explained) {
    const uint64_t first = s->undecided[0];
    const uint64_t last = s->undecided[count - 1];
    const bool lastOff = resume > last && OneByteOff(s->undecidedSize[count - 1] - 2, resume - last - 2);
    const bool firstOff =
        count == 2 && resume > first && OneByteOff(s->undecidedSize[0] - 2, resume - first - 2);
    // The one before the last goes too when its length is what explains the
    // gap, or when the resume point lies inside it.
    if (!lastOff && (firstOff || resume <= last)) {
      keep = 0;
    } else if (!EndsSoundly(s, count, breakAt, head, fillEnd, resume, atEnd, lastOff)) {
      keep = count - 1;
    }
  }
  s->heldRecords.resize(keep);

  DroppedRange& drop = s->pendingDrop;
  // The gap held a record when it starts as one does; inserted bytes and a
  // filled tail held none.
  drop.records = count - keep + (explained || head[0] == kFrameMarker ? 1 : 0);
  drop.offset = keep < count ? s->undecided[keep] : breakAt;
  drop.length = resume - drop.offset;
  if (keep < count) {
    const size_t frameLength = s->undecidedSize[keep] - 2;
    drop.reason = "frame length " + std::to_string(frameLength) +
                  " does not lead to the next record (offset " + std::to_string(breakAt) + ": " +
                  damage.message + ")";
  } else {
    drop.reason = damage.message;
  }
  s->droppedPending = true;
  s->position = resume;
  s->retainFrom = resume;
  s->finished = atEnd;
}

}  // namespace

void AttachRecoveryScanner(std::FILE* file, RecoveryScanner* scanner) {
  *scanner = RecoveryScanner();
  scanner->file = file;
}

RecoveryEvent NextRecovered(RecoveryScanner* s, CaptureRecordView* record, DroppedRange* dropped) {
  for (;;) {
    // A failed read may have looked like the end: nothing decided since can
    // be trusted.
    if (!s->readError.empty()) {
      dropped->offset = s->windowStart + s->windowSize;
      dropped->length = 0;
      dropped->index = s->kept;
      dropped->record = s->kept + s->lost;
      dropped->reason = s->readError;
      return RecoveryEvent::kReadError;
    }
    if (s->heldNext < s->heldRecords.size()) {
      const HeldRecord& held = s->heldRecords[s->heldNext++];
      record->bytes = held.bytes.data();
      record->size = held.bytes.size();
      record->offset = held.offset;
      record->index = s->kept++;
      return RecoveryEvent::kRecord;
    }
    if (s->droppedPending) {
      s->droppedPending = false;
      *dropped = s->pendingDrop;
      dropped->index = s->kept;
      dropped->record = s->kept + s->lost;
      s->lost += dropped->records;
      return RecoveryEvent::kDropped;
    }
    if (s->finished) return RecoveryEvent::kEnd;

    s->retainFrom = s->undecidedCount > 0 ? s->undecided[0] : s->position;
    if (IsEnd(s, s->position)) {
      if (!s->readError.empty()) continue;
      s->heldRecords.clear();
      s->heldNext = 0;
      for (size_t i = 0; i < s->undecidedCount; ++i) HoldRecord(s, s->undecided[i], s->undecidedSize[i]);
      s->undecidedCount = 0;
      s->finished = true;
      continue;
    }
    const size_t size = SoundSize(s, s->position);
    if (size == 0) {
      if (s->readError.empty()) HandleBreak(s);
      continue;
    }
    uint64_t resume = 0;
    if (SwallowsRecords(s, s->position, size, &resume)) {
      // The records before it stand; it goes, and the walk resumes inside it.
      s->heldRecords.clear();
      s->heldNext = 0;
      for (size_t i = 0; i < s->undecidedCount; ++i) HoldRecord(s, s->undecided[i], s->undecidedSize[i]);
      s->undecidedCount = 0;
      DroppedRange& drop = s->pendingDrop;
      drop.offset = s->position;
      drop.length = resume - s->position;
      drop.records = 1;
      drop.reason = "frame length " + std::to_string(size - 2) +
                    " runs over the records after it, from offset " + std::to_string(resume) + " on";
      s->droppedPending = true;
      s->position = resume;
      s->retainFrom = resume;
      continue;
    }
    if (s->undecidedCount < 2) {
      s->undecided[s->undecidedCount] = s->position;
      s->undecidedSize[s->undecidedCount] = size;
      ++s->undecidedCount;
      s->position += size;
      continue;
    }
    // Two sound records follow the oldest undecided one: no break can put it
    // in doubt any more.
    record->offset = s->undecided[0];
    record->size = s->undecidedSize[0];
    record->bytes = At(*s, record->offset);
    record->index = s->kept++;
    s->undecided[0] = s->undecided[1];
    s->undecidedSize[0] = s->undecidedSize[1];
    s->undecided[1] = s->position;
    s->undecidedSize[1] = size;
    s->position += size;
    return RecoveryEvent::kRecord;
  }
}

void CloseRecoveryScanner(RecoveryScanner* scanner) {
  if (scanner->file != nullptr) std::fclose(scanner->file);
  *scanner = RecoveryScanner();
}

}  // namespace capture
