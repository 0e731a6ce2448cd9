#include "frame_check.h"

#include <algorithm>
#include <vector>

#include "capture_reader.h"

namespace {

// No run sends anywhere near this many frames; a larger seq is garbage.
constexpr uint64_t kSeqWindow = uint64_t{1} << 32;

uint64_t LoadSeq(const uint8_t* data) {
  uint64_t seq = 0;
  for (size_t i = 0; i < 8; ++i) seq |= static_cast<uint64_t>(data[sim::kFrameSeqOffset + i]) << (8 * i);
  return seq;
}

bool CheckExactPrefix(FrameStreamCheck* check, const uint8_t* frame, size_t size, std::string* error) {
  const sim::FrameGenerator& generator = check->generator;
  uint64_t seq = check->nextSeq;
  // The receiver cannot store a 1-byte frame, and never sees a non-J one.
  while (!sim::GeneratedFrameIsJ(generator, seq) || sim::GeneratedFrameLength(generator, seq) < 2) ++seq;
  if (!sim::IsGeneratedFrame(generator, seq, frame, size)) {
    *error = "record " + std::to_string(check->records) + " (" + std::to_string(size) +
             " bytes) is not frame " + std::to_string(seq) + " (" +
             std::to_string(sim::GeneratedFrameLength(generator, seq)) + " bytes)";
    return false;
  }
  check->nextSeq = seq + 1;
  ++check->frames;
  check->bytes += size;
  return true;
}

// True when a generated frame with a seq of at least minSeq starts at
// data[0..size): its marker, seq and as much of its header as there is.
bool FrameStartsAt(const FrameStreamCheck& check, const uint8_t* data, size_t size, uint64_t minSeq) {
  if (size < sim::kFrameSeqOffset + 8) return false;
  const uint64_t seq = LoadSeq(data);
  if (seq < minSeq || seq - minSeq > kSeqWindow) return false;
  const std::vector<uint8_t> expected = sim::GeneratedFrame(check.generator, seq);
  const size_t compare = std::min({size, expected.size(), sim::kFrameHeaderLength});
  return std::equal(data, data + compare, expected.begin());
}

// The record as a run of frame pieces: whole frames, or (kFramePieces) frames
// cut short, each followed by a later frame or by the record's end.
bool CheckPieces(FrameStreamCheck* check, const uint8_t* data, size_t size, std::string* error) {
  const bool allowCut = check->expectation == CaptureExpectation::kFramePieces;
  size_t pos = 0;
  while (pos < size) {
    const std::string where =
        "record " + std::to_string(check->records) + " at byte " + std::to_string(pos) + ": ";
    const size_t left = size - pos;
    if (left < sim::kFrameSeqOffset + 8) {
      if (pos == 0) {  // the short rest of a frame cut by a short read
        ++check->restRecords;
        check->restBytes += size;
        return true;
      }
      // Too short to name its frame: only a frame cut at the record's end.
      if (allowCut) {
        ++check->cutFrames;
        check->bytes += left;
        return true;
      }
      *error = where + std::to_string(left) + " bytes too short for a frame";
      return false;
    }
    if (pos == 0 && !FrameStartsAt(*check, data, size, check->nextSeq)) {
      // The rest of a frame cut by a short read, perhaps followed by frames.
      size_t next = 1;
      while (next < size && !FrameStartsAt(*check, data + next, size - next, check->nextSeq)) ++next;
      ++check->restRecords;
      check->restBytes += next;
      pos = next;
      continue;
    }
    const uint64_t seq = LoadSeq(data + pos);
    if (!FrameStartsAt(*check, data + pos, left, check->nextSeq)) {
      *error = where + "no frame with seq >= " + std::to_string(check->nextSeq) + " starts here (seq field " +
               std::to_string(seq) + ")";
      return false;
    }
    const std::vector<uint8_t> expected = sim::GeneratedFrame(check->generator, seq);
    const size_t limit = std::min(left, expected.size());
    const size_t match = static_cast<size_t>(
        std::mismatch(data + pos, data + pos + limit, expected.begin()).first - (data + pos));
    check->nextSeq = seq + 1;
    if (match == expected.size()) {
      ++check->frames;
      check->bytes += match;
      pos += match;
      continue;
    }
    if (!allowCut) {
      *error = where + "frame " + std::to_string(seq) + " differs at its byte " + std::to_string(match);
      return false;
    }
    ++check->cutFrames;
    if (pos + match == size) {
      check->bytes += match;
      return true;
    }
    // Cut by an overflow: a later frame follows the cut, possibly sharing a
    // few bytes with the lost part by chance, so try the latest start first.
    size_t next = pos + match;
    while (next > pos && !FrameStartsAt(*check, data + next, size - next, check->nextSeq)) --next;
    if (next == pos) {
      *error = where + "frame " + std::to_string(seq) + " differs at its byte " + std::to_string(match) +
               " and no later frame follows";
      return false;
    }
    check->bytes += next - pos;
    pos = next;
  }
  return true;
}

}  // namespace

void InitFrameStreamCheck(const sim::FrameShape& shape, CaptureExpectation expectation,
                          FrameStreamCheck* check) {
  *check = FrameStreamCheck{};
  sim::InitFrameGenerator(shape, &check->generator);
  check->expectation = expectation;
}

bool CheckRecordFrame(FrameStreamCheck* check, const uint8_t* frame, size_t size, std::string* error) {
  const bool ok = check->expectation == CaptureExpectation::kExactPrefix
                      ? CheckExactPrefix(check, frame, size, error)
                      : CheckPieces(check, frame, size, error);
  ++check->records;
  check->fileBytes += size + 2;
  return ok;
}

bool CheckCaptureRecords(capture::CaptureReader* reader, FrameStreamCheck* check, bool* torn,
                         std::string* error) {
  if (torn != nullptr) *torn = false;
  capture::CaptureRecord record;
  for (;;) {
    const capture::ReadOutcome outcome = capture::ReadCaptureRecord(reader, &record);
    if (outcome == capture::ReadOutcome::kEnd) return true;
    if (outcome == capture::ReadOutcome::kDamage) {
      if (torn != nullptr && capture::IsTornTail(reader->damage.kind)) {
        *torn = true;
        return true;
      }
      *error = capture::FormatDamage(reader->damage);
      return false;
    }
    if (!CheckRecordFrame(check, record.frame.data(), record.frame.size(), error)) return false;
  }
}

bool CheckCaptureFile(const std::string& path, FrameStreamCheck* check, std::string* error) {
  capture::CaptureReader reader;
  if (!capture::OpenCaptureReader(path, &reader, error)) return false;
  const bool ok = CheckCaptureRecords(&reader, check, nullptr, error);
  if (!ok) *error = path + ": " + *error;
  capture::CloseCaptureReader(&reader);
  return ok;
}
