// Measures what repair recovers: captures of generated frames get one or
// five damaged bytes at random places (header or payload), or one or five
// records with both bytes of their length field overwritten, the recovery
// scan that repair uses walks each, and every kept record is matched against
// the records the capture held. Deterministic: the same figures on every run.
//   repair_recovery_bench [--captures N]   (default 1000 per row)
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture_encoder.h"
#include "capture_recovery.h"
#include "decimal_number.h"
#include "generated_frame.h"
#include "prng.h"

namespace {

struct Shape {
  const char* name;
  uint32_t minLength;
  uint32_t maxLength;
  int records;
};

struct Figures {
  uint64_t undamaged = 0;       // records no damaged byte touched
  uint64_t recovered = 0;       // of those, kept byte for byte
  uint64_t falseRecords = 0;    // kept records that were not in the capture
  uint64_t damagedKept = 0;     // damaged records kept: payload damage cannot be seen
  uint64_t damagedDropped = 0;  // damaged records dropped
  uint64_t capturesAllRecovered = 0;
  uint64_t headerHits = 0;  // damaged bytes that fell on a record's first four
};

// A capture of generated J frames with record boundaries noted.
std::vector<uint8_t> MakeCapture(const Shape& shape, uint64_t seed,
                                 std::vector<std::pair<uint64_t, size_t>>* records) {
  sim::FrameShape frameShape;
  frameShape.seed = seed;
  frameShape.minLength = shape.minLength;
  frameShape.maxLength = shape.maxLength;
  frameShape.nonJShare = 0;
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(frameShape, &generator);
  std::vector<uint8_t> capture;
  std::string error;
  for (int seq = 0; seq < shape.records; ++seq) {
    const std::vector<uint8_t> frame = sim::GeneratedFrame(generator, static_cast<uint64_t>(seq));
    records->emplace_back(capture.size(), capture::RecordSize(frame.size()));
    capture::EncodeCaptureRecord(frame.data(), frame.size(), &capture, &error);
  }
  return capture;
}

// Kept records as (offset, size); false if the scan failed.
bool Recover(std::vector<uint8_t>* input, std::set<std::pair<uint64_t, size_t>>* kept) {
  std::FILE* file = fmemopen(input->data(), input->size(), "rb");
  if (file == nullptr) return false;
  capture::RecoveryScanner scanner;
  capture::AttachRecoveryScanner(file, &scanner);
  capture::CaptureRecordView record;
  capture::DroppedRange dropped;
  capture::RecoveryEvent event;
  while ((event = capture::NextRecovered(&scanner, &record, &dropped)) != capture::RecoveryEvent::kEnd) {
    if (event == capture::RecoveryEvent::kReadError) return false;
    if (event == capture::RecoveryEvent::kRecord) kept->emplace(record.offset, record.size);
  }
  capture::CloseRecoveryScanner(&scanner);
  return true;
}

enum class Aim { kRandomBytes, kLengthFields };

// Changes distinct random bytes, or overwrites the length fields of distinct
// random records: with 00 00, 01 00 (both below the least frame length) or a
// random value, in turn. Returns the changed places.
std::set<uint64_t> Damage(Aim aim, int damages, const std::vector<std::pair<uint64_t, size_t>>& records,
                          sim::Prng* prng, std::vector<uint8_t>* capture) {
  std::set<uint64_t> positions;
  if (aim == Aim::kRandomBytes) {
    while (positions.size() < static_cast<size_t>(damages)) {
      positions.insert(sim::NextInRange(prng, 0, capture->size() - 1));
    }
    for (uint64_t position : positions) {
      (*capture)[position] ^= static_cast<uint8_t>(sim::NextInRange(prng, 1, 255));
    }
    return positions;
  }
  std::set<uint64_t> hit;
  while (hit.size() < static_cast<size_t>(damages)) hit.insert(sim::NextInRange(prng, 0, records.size() - 1));
  int turn = 0;
  for (uint64_t index : hit) {
    const uint64_t length = turn == 0 ? 0 : turn == 1 ? 1 : sim::NextInRange(prng, 0, 65535);
    turn = (turn + 1) % 3;
    const uint64_t at = records[index].first + 2;
    if ((*capture)[at] != static_cast<uint8_t>(length)) positions.insert(at);
    if ((*capture)[at + 1] != static_cast<uint8_t>(length >> 8)) positions.insert(at + 1);
    (*capture)[at] = static_cast<uint8_t>(length);
    (*capture)[at + 1] = static_cast<uint8_t>(length >> 8);
  }
  return positions;
}

bool MeasureOne(const Shape& shape, Aim aim, int damages, uint64_t seed, Figures* figures) {
  std::vector<std::pair<uint64_t, size_t>> records;
  std::vector<uint8_t> capture = MakeCapture(shape, seed, &records);
  sim::Prng prng;
  prng.state = sim::Mix64(seed * 7919 + static_cast<uint64_t>(damages));
  const std::set<uint64_t> positions = Damage(aim, damages, records, &prng, &capture);
  std::set<std::pair<uint64_t, size_t>> kept;
  if (!Recover(&capture, &kept)) return false;
  std::set<std::pair<uint64_t, size_t>> original(records.begin(), records.end());
  bool all = true;
  for (const auto& record : records) {
    const auto hit = positions.lower_bound(record.first);
    const bool damaged = hit != positions.end() && *hit < record.first + record.second;
    if (damaged && *hit < record.first + 4) ++figures->headerHits;
    const bool wasKept = kept.count(record) != 0;
    if (damaged) {
      ++(wasKept ? figures->damagedKept : figures->damagedDropped);
      continue;
    }
    ++figures->undamaged;
    if (wasKept) {
      ++figures->recovered;
    } else {
      all = false;
    }
  }
  for (const auto& record : kept) {
    if (original.count(record) == 0) ++figures->falseRecords;
  }
  if (all) ++figures->capturesAllRecovered;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int captures = 1000;
  uint64_t count = 0;
  if (argc == 3 && std::string(argv[1]) == "--captures" && common::ParseDecimal(argv[2], INT_MAX, &count)) {
    captures = static_cast<int>(count);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: repair_recovery_bench [--captures N]\n");
    return 2;
  }
  const Shape shapes[] = {
      {"2..16 B frames, 1000 records", 2, 16, 1000},   {"2..64 B frames, 400 records", 2, 64, 400},
      {"2..1500 B frames, 100 records", 2, 1500, 100}, {"4096 B frames, 100 records", 4096, 4096, 100},
      {"2..65535 B frames, 20 records", 2, 65535, 20}, {"302 B frames, 200 records", 302, 302, 200},
  };
  for (Aim aim : {Aim::kRandomBytes, Aim::kLengthFields}) {
    std::printf("repair's recovery scan, %d captures per row, %s\n", captures,
                aim == Aim::kRandomBytes
                    ? "damaged bytes at random places"
                    : "length fields of random records overwritten (00 00, 01 00, random)");
    std::printf("%-32s %7s | %11s %10s %9s | %6s %12s %13s %s\n", "captures", "damaged", "undamaged",
                "recovered", "share", "false", "damaged kept", "damaged gone", "all recovered");
    for (const Shape& shape : shapes) {
      for (int damages : {1, 5}) {
        Figures figures;
        for (int i = 0; i < captures; ++i) {
          if (!MeasureOne(shape, aim, damages, 1000 + static_cast<uint64_t>(i), &figures)) {
            std::fprintf(stderr, "recovery scan failed\n");
            return 1;
          }
        }
        std::printf("%-32s %7d | %11" PRIu64 " %10" PRIu64 " %8.4f%% | %6" PRIu64 " %12" PRIu64 " %13" PRIu64
                    " %d of %d (%" PRIu64 " in a header)\n",
                    shape.name, damages, figures.undamaged, figures.recovered,
                    100.0 * static_cast<double>(figures.recovered) / static_cast<double>(figures.undamaged),
                    figures.falseRecords, figures.damagedKept, figures.damagedDropped,
                    static_cast<int>(figures.capturesAllRecovered), captures, figures.headerHits);
      }
    }
  }
  return 0;
}
