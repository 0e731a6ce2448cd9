#include "capture_reader.h"

#include <cerrno>
#include <cstring>

#include "platform.h"

namespace capture {

namespace {

// Large enough to hold several maximal records, so a refill always makes
// room for the whole record being parsed, and large enough that the cost of
// each read call vanishes next to the copying.
constexpr size_t kReadBufferSize = 256 * 1024;
static_assert(kReadBufferSize >= 2 * kMaxRecordSize, "a record must fit after compaction");

std::string HexByte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

void SetDamage(Damage* damage, DamageKind kind, std::string message) {
  damage->kind = kind;
  damage->offset = 0;
  damage->index = 0;
  damage->message = std::move(message);
}

ReadOutcome FailReader(CaptureReader* reader, DamageKind kind, std::string message) {
  SetDamage(&reader->damage, kind, std::move(message));
  reader->damage.offset = reader->offset;
  reader->damage.index = reader->index;
  return ReadOutcome::kDamage;
}

// Moves the unconsumed bytes to the front and reads as much as fits after
// them. Sets *added to the bytes read; returns false on a read error.
bool Refill(CaptureReader* reader, size_t* added, std::string* error) {
  std::vector<uint8_t>& buffer = reader->buffer;
  if (buffer.size() < kReadBufferSize) buffer.resize(kReadBufferSize);
  const size_t pending = reader->end - reader->begin;
  if (reader->begin > 0) {
    std::memmove(buffer.data(), buffer.data() + reader->begin, pending);
    reader->begin = 0;
    reader->end = pending;
  }
  // A file that is still growing: clear the end-of-file mark left by the
  // previous read so this one looks again. Some C runtimes keep reporting
  // the end until the stream is repositioned, hence the seek to where it is.
  std::clearerr(reader->file);
  std::fseek(reader->file, 0, SEEK_CUR);
  errno = 0;
  *added = std::fread(buffer.data() + reader->end, 1, buffer.size() - reader->end, reader->file);
  reader->end += *added;
  if (std::ferror(reader->file)) {
    *error = "read failed: " + platform::ErrorText(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace

bool IsTornTail(DamageKind kind) {
  return kind == DamageKind::kTornHeader || kind == DamageKind::kTornPayload;
}

std::string FormatDamage(const Damage& damage) {
  return "offset " + std::to_string(damage.offset) + " (record " + std::to_string(damage.index) +
         "): " + damage.message;
}

ReadOutcome ParseCaptureRecord(const uint8_t* data, size_t size, size_t* recordSize, Damage* damage) {
  *recordSize = 0;
  SetDamage(damage, DamageKind::kNone, std::string());
  if (size == 0) return ReadOutcome::kEnd;
  // The marker is checked first, so garbage is named as such even when too
  // few bytes remain for a header.
  if (data[0] != kFrameMarker) {
    SetDamage(damage, DamageKind::kNotJ, "first byte is " + HexByte(data[0]) + ", not 'J' (0x4a)");
    return ReadOutcome::kDamage;
  }
  if (size < kRecordHeaderSize) {
    SetDamage(damage, DamageKind::kTornHeader,
              "file ends " + std::to_string(size) + " bytes into a 4-byte record header");
    return ReadOutcome::kDamage;
  }
  const size_t frameLength = RecordFrameLength(data);
  if (frameLength < kMinFrameLength) {
    SetDamage(damage, DamageKind::kLengthTooSmall, "length " + std::to_string(frameLength) + " is below 2");
    return ReadOutcome::kDamage;
  }
  const size_t total = RecordSize(frameLength);
  if (size < total) {
    SetDamage(damage, DamageKind::kTornPayload,
              "record of " + std::to_string(total) + " bytes (frame length " + std::to_string(frameLength) +
                  ") runs past the end of the file, which has " + std::to_string(size) + " bytes left");
    return ReadOutcome::kDamage;
  }
  *recordSize = total;
  return ReadOutcome::kRecord;
}

bool OpenCaptureReader(const std::string& path, CaptureReader* reader, std::string* error) {
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) {
    *error = path + ": cannot open: " + platform::ErrorText(errno);
    return false;
  }
  AttachCaptureReader(file, reader);
  return true;
}

void AttachCaptureReader(std::FILE* file, CaptureReader* reader) {
  // The reader buffers on its own; a stdio buffer would only add a copy.
  std::setvbuf(file, nullptr, _IONBF, 0);
  reader->file = file;
  reader->offset = 0;
  reader->index = 0;
  reader->damage = Damage();
  reader->begin = 0;
  reader->end = 0;
}

ReadOutcome ReadCaptureRecordView(CaptureReader* reader, CaptureRecordView* view) {
  if (reader->damage.kind != DamageKind::kNone) return ReadOutcome::kDamage;
  if (reader->file == nullptr) return FailReader(reader, DamageKind::kReadError, "reader is not open");
  for (;;) {
    const uint8_t* data = reader->buffer.data() + reader->begin;
    size_t recordSize = 0;
    Damage parsed;
    const ReadOutcome outcome = ParseCaptureRecord(data, reader->end - reader->begin, &recordSize, &parsed);
    if (outcome == ReadOutcome::kRecord) {
      view->bytes = data;
      view->size = recordSize;
      view->index = reader->index;
      view->offset = reader->offset;
      reader->begin += recordSize;
      reader->offset += recordSize;
      reader->index += 1;
      return ReadOutcome::kRecord;
    }
    // Only a shortage of bytes can be cured by reading more.
    if (outcome == ReadOutcome::kDamage && !IsTornTail(parsed.kind)) {
      return FailReader(reader, parsed.kind, parsed.message);
    }
    size_t added = 0;
    std::string error;
    if (!Refill(reader, &added, &error)) return FailReader(reader, DamageKind::kReadError, error);
    if (added == 0) {
      if (outcome == ReadOutcome::kEnd) return ReadOutcome::kEnd;
      return FailReader(reader, parsed.kind, parsed.message);
    }
  }
}

ReadOutcome ReadCaptureRecord(CaptureReader* reader, CaptureRecord* record) {
  CaptureRecordView view;
  const ReadOutcome outcome = ReadCaptureRecordView(reader, &view);
  if (outcome != ReadOutcome::kRecord) return outcome;
  record->index = view.index;
  record->offset = view.offset;
  record->frame.clear();
  AppendViewFrame(view, 0, ViewFrameLength(view), &record->frame);
  return ReadOutcome::kRecord;
}

void AppendViewFrame(const CaptureRecordView& view, size_t begin, size_t end, std::vector<uint8_t>* out) {
  // Frame bytes 0 and 1 sit before the length field, the rest after it.
  for (size_t i = begin; i < end && i < 2; ++i) out->push_back(view.bytes[i]);
  if (end > 2) {
    const size_t from = begin < 2 ? 2 : begin;
    out->insert(out->end(), view.bytes + from + 2, view.bytes + end + 2);
  }
}

bool ResumeCaptureReader(CaptureReader* reader) {
  if (!IsTornTail(reader->damage.kind)) return false;
  reader->damage = Damage();
  return true;
}

void CloseCaptureReader(CaptureReader* reader) {
  if (reader->file != nullptr) std::fclose(reader->file);
  reader->file = nullptr;
  reader->buffer.clear();
  reader->buffer.shrink_to_fit();
  reader->begin = 0;
  reader->end = 0;
}

}  // namespace capture
