#include "capture_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Original {
  uint64_t offset;
  size_t size;
};

struct Outcome {
  std::vector<Original> kept;  // where each kept record stood in the input
  std::vector<Bytes> keptBytes;
  std::vector<capture::DroppedRange> dropped;
  bool readError = false;
};

// A capture of frames with the given lengths, bytes from a fixed generator
// (so payloads hold 'J' bytes and plausible lengths, as real data does).
Bytes MakeCapture(const std::vector<size_t>& lengths, std::vector<Original>* records) {
  Bytes capture;
  uint32_t state = 12345;
  std::string error;
  for (size_t length : lengths) {
    Bytes frame(length);
    frame[0] = 'J';
    for (size_t i = 1; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      frame[i] = static_cast<uint8_t>(state >> 16);
    }
    records->push_back({capture.size(), length + 2});
    EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &capture, &error));
  }
  return capture;
}

Outcome Recover(const Bytes& input) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (!input.empty()) {
    EXPECT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
  }
  std::rewind(file);
  capture::RecoveryScanner scanner;
  capture::AttachRecoveryScanner(file, &scanner);
  Outcome outcome;
  capture::CaptureRecordView record;
  capture::DroppedRange dropped;
  for (;;) {
    const capture::RecoveryEvent event = capture::NextRecovered(&scanner, &record, &dropped);
    if (event == capture::RecoveryEvent::kEnd) break;
    if (event == capture::RecoveryEvent::kReadError) {
      outcome.readError = true;
      break;
    }
    if (event == capture::RecoveryEvent::kRecord) {
      EXPECT_EQ(record.index, outcome.kept.size());
      outcome.kept.push_back({record.offset, record.size});
      outcome.keptBytes.emplace_back(record.bytes, record.bytes + record.size);
    } else {
      EXPECT_EQ(dropped.index, outcome.kept.size());
      EXPECT_FALSE(dropped.reason.empty());
      outcome.dropped.push_back(dropped);
    }
  }
  capture::CloseRecoveryScanner(&scanner);
  return outcome;
}

// Kept records and dropped ranges must cover the input exactly, in order,
// and each kept record must be the input's bytes at its place.
void ExpectAccountsForEveryByte(const Bytes& input, const Outcome& outcome) {
  uint64_t at = 0;
  size_t k = 0;
  size_t d = 0;
  while (k < outcome.kept.size() || d < outcome.dropped.size()) {
    if (k < outcome.kept.size() && outcome.kept[k].offset == at) {
      ASSERT_LE(at + outcome.kept[k].size, input.size());
      EXPECT_EQ(outcome.keptBytes[k], Bytes(input.begin() + at, input.begin() + at + outcome.kept[k].size));
      at += outcome.kept[k++].size;
    } else if (d < outcome.dropped.size() && outcome.dropped[d].offset == at) {
      ASSERT_GT(outcome.dropped[d].length, 0u);
      at += outcome.dropped[d++].length;
    } else {
      FAIL() << "nothing accounts for offset " << at;
    }
  }
  EXPECT_EQ(at, input.size());
}

bool Contains(const std::vector<Original>& records, const Original& record) {
  for (const Original& r : records) {
    if (r.offset == record.offset && r.size == record.size) return true;
  }
  return false;
}

TEST(CaptureRecovery, AWholeCaptureComesOutWhole) {
  std::vector<Original> records;
  const Bytes input = MakeCapture({2, 3, 40, 300, 5, 65535, 7}, &records);
  const Outcome outcome = Recover(input);
  EXPECT_TRUE(outcome.dropped.empty());
  ASSERT_EQ(outcome.kept.size(), records.size());
  ExpectAccountsForEveryByte(input, outcome);
  EXPECT_TRUE(Recover(Bytes()).kept.empty());
}

// The central promise: one damaged byte anywhere costs at most the record
// that holds it, and no record that was not in the input ever comes out.
TEST(CaptureRecovery, OneDamagedByteAnywhereCostsAtMostItsRecord) {
  std::vector<Original> records;
  const Bytes input = MakeCapture({6, 2, 40, 300, 3, 129, 2, 74, 1000, 12, 5, 33}, &records);
  const uint8_t replacements[] = {0x00, 0x01, 0xff, 'J'};
  for (size_t position = 0; position < input.size(); ++position) {
    for (uint8_t replacement : replacements) {
      for (int flip = 0; flip < 2; ++flip) {
        Bytes damaged = input;
        damaged[position] = flip != 0 ? static_cast<uint8_t>(input[position] ^ replacement) : replacement;
        if (damaged[position] == input[position]) continue;
        SCOPED_TRACE("byte " + std::to_string(position) + " set to " + std::to_string(damaged[position]));
        const Outcome outcome = Recover(damaged);
        ASSERT_FALSE(outcome.readError);
        ExpectAccountsForEveryByte(damaged, outcome);
        for (const Original& kept : outcome.kept) EXPECT_TRUE(Contains(records, kept)) << "false record";
        for (const Original& record : records) {
          const bool hit = position >= record.offset && position < record.offset + record.size;
          if (!hit) {
            EXPECT_TRUE(Contains(outcome.kept, record)) << "lost record at " << record.offset;
          }
        }
      }
    }
  }
}

TEST(CaptureRecovery, ACaptureCutAnywhereKeepsEveryWholeRecord) {
  std::vector<Original> records;
  const Bytes input = MakeCapture({6, 2, 40, 300, 3, 129}, &records);
  for (size_t cut = 0; cut <= input.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Bytes torn(input.begin(), input.begin() + cut);
    const Outcome outcome = Recover(torn);
    ExpectAccountsForEveryByte(torn, outcome);
    size_t whole = 0;
    while (whole < records.size() && records[whole].offset + records[whole].size <= cut) ++whole;
    EXPECT_EQ(outcome.kept.size(), whole);
    EXPECT_EQ(outcome.dropped.size(), whole < records.size() && records[whole].offset < cut ? 1u : 0u);
  }
}

// Bytes that no single damaged byte explains, where nothing shows that the
// record before them ends where its length says (they do not start with 'J',
// the lengths around differ): that record may be the one whose length is
// wrong, so it goes with them; the records after them are found again.
TEST(CaptureRecovery, UnexplainedGarbageCostsItselfAndTheRecordBeforeIt) {
  std::vector<Original> records;
  const Bytes first = MakeCapture({100, 200, 300}, &records);
  Bytes input = first;
  Bytes garbage(5000, 0x4a);  // 'J' bytes whose lengths lead nowhere sound
  garbage[0] = 0x55;
  input.insert(input.end(), garbage.begin(), garbage.end());
  input.insert(input.end(), first.begin(), first.end());
  const Outcome outcome = Recover(input);
  ExpectAccountsForEveryByte(input, outcome);
  EXPECT_EQ(outcome.kept.size(), 5u);
  ASSERT_EQ(outcome.dropped.size(), 1u);
  EXPECT_EQ(outcome.dropped[0].offset, records[2].offset);
  EXPECT_EQ(outcome.dropped[0].length, records[2].size + garbage.size());
  EXPECT_EQ(outcome.dropped[0].index, 2u);
  EXPECT_EQ(outcome.dropped[0].reason,
            "frame length 300 does not lead to the next record (offset 606: first byte is 0x55, not 'J' "
            "(0x4a))");
}

TEST(CaptureRecovery, SeveralDamagesEachCostTheirOwnRecord) {
  std::vector<Original> records;
  std::vector<size_t> lengths;
  for (size_t i = 0; i < 60; ++i) lengths.push_back(2 + (i * 37) % 500);
  const Bytes input = MakeCapture(lengths, &records);
  Bytes damaged = input;
  // The first byte of record 5, the length of record 20, the high length
  // byte of record 40: three separate damages.
  damaged[records[5].offset] = 'K';
  damaged[records[20].offset + 2] ^= 0x10;
  damaged[records[40].offset + 3] ^= 0x01;
  const Outcome outcome = Recover(damaged);
  ExpectAccountsForEveryByte(damaged, outcome);
  EXPECT_EQ(outcome.kept.size(), records.size() - 3);
  EXPECT_EQ(outcome.dropped.size(), 3u);
  for (const Original& kept : outcome.kept) EXPECT_TRUE(Contains(records, kept));
}

// A damaged length that still leads to a record boundary, two records on:
// the record lies over those two and would swallow them.
TEST(CaptureRecovery, ALengthThatSwallowsRecordsIsCaught) {
  std::vector<Original> records;
  const Bytes input = MakeCapture({30, 40, 50, 60, 20, 25, 35, 45}, &records);
  Bytes damaged = input;
  // Record 2's frame length 50 becomes 50 + 62 + 52: its low byte changed.
  const size_t longer = 50 + records[3].size + records[4].size;
  ASSERT_EQ(longer >> 8, 50u >> 8);
  damaged[records[2].offset + 2] = static_cast<uint8_t>(longer);
  const Outcome outcome = Recover(damaged);
  ExpectAccountsForEveryByte(damaged, outcome);
  ASSERT_EQ(outcome.dropped.size(), 1u);
  EXPECT_EQ(outcome.dropped[0].offset, records[2].offset);
  EXPECT_EQ(outcome.dropped[0].length, records[2].size);
  EXPECT_EQ(outcome.kept.size(), records.size() - 1);
  for (const Original& kept : outcome.kept) EXPECT_TRUE(Contains(records, kept));
}

}  // namespace

// Damage beside an intact record, in a capture of one frame size: the
// record before the damage ends where the resumed records (or the damage)
// begin, so it stays; only what the damage hit goes. Dropped ranges are
// numbered by the input's records.
TEST(CaptureRecovery, TheIntactRecordBesideDamageIsKept) {
  struct Drop {
    size_t record;  // the input's record number where the range starts
    uint64_t length;
  };
  struct Case {
    const char* name;
    std::vector<size_t> hitLengths;  // records whose length field becomes 00 00 / 01 00, in turn
    size_t insertBefore;             // 3 bytes inserted before this record (0: none)
    size_t tornTail;                 // bytes of the last record zeroed (0: none)
    size_t zeroTail;                 // zero bytes appended (0: none)
    std::vector<size_t> lost;        // input records expected gone
    std::vector<Drop> drops;
  };
  const Case cases[] = {
      {"length 00 00", {20}, 0, 0, 0, {20}, {{20, 304}}},
      {"length 00 00, then 01 00", {20, 100}, 0, 0, 0, {20, 100}, {{20, 304}, {100, 304}}},
      {"3 bytes inserted", {}, 20, 0, 0, {}, {{20, 3}}},
      {"zero-filled tail", {}, 0, 0, 1000, {}, {{200, 1000}}},
      {"short zero-filled tail", {}, 0, 0, 100, {}, {{200, 100}}},
      {"last record torn and zero-filled", {}, 0, 150, 1000, {199}, {{199, 1304}}},
      {"3 bytes inserted, then length 01 00", {60}, 20, 0, 0, {60}, {{20, 3}, {60, 304}}},
  };
  std::vector<Original> records;
  const Bytes input = MakeCapture(std::vector<size_t>(200, 302), &records);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes damaged = input;
    for (size_t i = 0; i < c.hitLengths.size(); ++i) {
      damaged[records[c.hitLengths[i]].offset + 2] = static_cast<uint8_t>(i % 2);
      damaged[records[c.hitLengths[i]].offset + 3] = 0;
    }
    if (c.tornTail > 0) std::fill(damaged.end() - static_cast<long>(c.tornTail), damaged.end(), 0);
    damaged.insert(damaged.end(), c.zeroTail, 0);
    if (c.insertBefore > 0) {
      const uint8_t inserted[] = {0x13, 0x00, 0x7f};
      damaged.insert(damaged.begin() + static_cast<long>(records[c.insertBefore].offset), inserted,
                     inserted + 3);
    }
    const Outcome outcome = Recover(damaged);
    ExpectAccountsForEveryByte(damaged, outcome);
    std::vector<Bytes> expected;
    for (size_t i = 0; i < records.size(); ++i) {
      if (std::find(c.lost.begin(), c.lost.end(), i) != c.lost.end()) continue;
      expected.emplace_back(input.begin() + static_cast<long>(records[i].offset),
                            input.begin() + static_cast<long>(records[i].offset + records[i].size));
    }
    EXPECT_TRUE(outcome.keptBytes == expected) << outcome.keptBytes.size() << " kept";
    ASSERT_EQ(outcome.dropped.size(), c.drops.size());
    for (size_t i = 0; i < c.drops.size(); ++i) {
      EXPECT_EQ(outcome.dropped[i].record, c.drops[i].record);
      EXPECT_EQ(outcome.dropped[i].length, c.drops[i].length);
    }
  }
}
