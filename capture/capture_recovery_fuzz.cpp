// libFuzzer target: runs the recovery scan over arbitrary bytes and checks
// that it accounts for every byte exactly once, keeps only sound records,
// gives up no more than the last two records before the first damage a
// plain walk finds, and changes a capture that walks cleanly only where a
// record lies over a chain of others. Build with
// -DSPI_FUZZ=ON (clang only); run with capture/run_fuzz.sh.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "capture_recovery.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  const uint8_t* base = copy.data();

  // The plain walk: records up to the first damage.
  std::vector<size_t> plainOffsets;
  size_t plainEnd = 0;
  capture::ReadOutcome plain;
  for (;;) {
    size_t recordSize = 0;
    capture::Damage damage;
    plain = capture::ParseCaptureRecord(base + plainEnd, size - plainEnd, &recordSize, &damage);
    if (plain != capture::ReadOutcome::kRecord) break;
    plainOffsets.push_back(plainEnd);
    plainEnd += recordSize;
  }

  std::FILE* file = size == 0 ? std::tmpfile() : fmemopen(copy.data(), size, "rb");
  Check(file != nullptr, "open input");
  capture::RecoveryScanner scanner;
  capture::AttachRecoveryScanner(file, &scanner);
  capture::CaptureRecordView record;
  capture::DroppedRange dropped;
  uint64_t at = 0;
  uint64_t kept = 0;
  bool anyDropped = false;
  bool damageSeen = false;
  for (;;) {
    const capture::RecoveryEvent event = capture::NextRecovered(&scanner, &record, &dropped);
    if (event == capture::RecoveryEvent::kEnd) break;
    Check(event != capture::RecoveryEvent::kReadError, "no read error from memory");
    if (event == capture::RecoveryEvent::kRecord) {
      Check(record.offset == at && record.index == kept, "record in order");
      size_t recordSize = 0;
      capture::Damage damage;
      Check(capture::ParseCaptureRecord(base + at, size - at, &recordSize, &damage) ==
                    capture::ReadOutcome::kRecord &&
                recordSize == record.size,
            "kept record is sound");
      Check(std::memcmp(record.bytes, base + at, record.size) == 0, "kept record is the input's bytes");
      at += record.size;
      ++kept;
    } else {
      Check(dropped.offset == at && dropped.length > 0 && dropped.index == kept, "dropped range in order");
      Check(!dropped.reason.empty(), "dropped range has a reason");
      const bool liesOver = dropped.reason.find("runs over the records after it") != std::string::npos;
      if (!liesOver && !damageSeen) {
        Check(dropped.offset <= plainEnd, "first drop no later than the first damage");
        const size_t records = plainOffsets.size();
        Check(records < 2 || dropped.offset >= plainOffsets[records - 2],
              "at most two records before the damage given up");
        damageSeen = true;
      }
      if (plain == capture::ReadOutcome::kEnd)
        Check(liesOver, "a clean capture loses only records that lie over others");
      anyDropped = true;
      at += dropped.length;
    }
  }
  Check(at == size, "every byte accounted for");
  if (plain == capture::ReadOutcome::kEnd && !anyDropped)
    Check(kept == plainOffsets.size(), "whole stays whole");
  capture::CloseRecoveryScanner(&scanner);
  return 0;
}
