#include "capture_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_encoder.h"

namespace {

using capture::CaptureReader;
using capture::CaptureRecord;
using capture::DamageKind;
using capture::ReadOutcome;
using Bytes = std::vector<uint8_t>;

// A frame of n bytes: 'J', then a pattern that differs per frame.
Bytes MakeFrame(size_t n, uint8_t seed) {
  Bytes frame(n);
  frame[0] = 'J';
  for (size_t i = 1; i < n; ++i) frame[i] = static_cast<uint8_t>(seed + i * 7);
  return frame;
}

Bytes Encode(const std::vector<Bytes>& frames) {
  Bytes out;
  std::string error;
  for (const Bytes& frame : frames) {
    EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &out, &error)) << error;
  }
  return out;
}

class CaptureReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("capture_reader_test_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "capture.bin").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteFile(const Bytes& bytes, const char* mode = "wb") {
    std::FILE* file = std::fopen(path_.c_str(), mode);
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    ASSERT_EQ(std::fclose(file), 0);
  }

  void Open(CaptureReader* reader) {
    std::string error;
    ASSERT_TRUE(capture::OpenCaptureReader(path_, reader, &error)) << error;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(CaptureReaderTest, RoundTripsFramesOfEveryShape) {
  const std::vector<std::vector<size_t>> cases = {
      {},
      {2},
      {2, 2, 2, 3},
      {4, 100, 4096, 65535, 2, 65535},
      // Several maximal records cross the read buffer's edges.
      std::vector<size_t>(6, 65535),
      // Many tiny records: headers get split at the buffer's edges.
      std::vector<size_t>(100000, 2),
      std::vector<size_t>(30000, 5),
  };
  for (const std::vector<size_t>& lengths : cases) {
    std::vector<Bytes> frames;
    for (size_t i = 0; i < lengths.size(); ++i) frames.push_back(MakeFrame(lengths[i], uint8_t(i)));
    const Bytes file = Encode(frames);
    WriteFile(file);

    CaptureReader reader;
    Open(&reader);
    CaptureRecord record;
    uint64_t offset = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
      ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kRecord) << reader.damage.message;
      ASSERT_EQ(record.index, i);
      ASSERT_EQ(record.offset, offset);
      ASSERT_EQ(record.frame, frames[i]) << "record " << i;
      offset += frames[i].size() + 2;
    }
    EXPECT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kEnd);
    EXPECT_EQ(reader.offset, file.size());
    EXPECT_EQ(reader.index, frames.size());
    EXPECT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kEnd);
    capture::CloseCaptureReader(&reader);
  }
}

// Walks data with ParseCaptureRecord as the fuzzer does, from an exactly
// sized heap copy so AddressSanitizer catches any read past the end.
size_t ParseWalk(const Bytes& data, ReadOutcome* last, capture::Damage* damage, size_t* offset) {
  const std::vector<uint8_t> copy(data);
  const uint8_t* base = copy.empty() ? nullptr : copy.data();
  size_t records = 0;
  *offset = 0;
  for (;;) {
    size_t recordSize = 0;
    *last = capture::ParseCaptureRecord(base + *offset, copy.size() - *offset, &recordSize, damage);
    if (*last != ReadOutcome::kRecord) return records;
    *offset += recordSize;
    ++records;
  }
}

// Like a log cut short by a crash: for every prefix of a file, the reader
// returns exactly the whole records before the cut, then a clean end or a
// torn tail at the start of the cut record.
TEST_F(CaptureReaderTest, FileCutAtEveryLength) {
  const std::vector<Bytes> frames = {MakeFrame(2, 1), MakeFrame(5, 2), MakeFrame(3, 3), MakeFrame(17, 4),
                                     MakeFrame(2, 5)};
  const Bytes whole = Encode(frames);
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Bytes prefix(whole.begin(), whole.begin() + cut);
    WriteFile(prefix);

    size_t wholeRecords = 0;
    size_t boundary = 0;
    while (wholeRecords < frames.size() && boundary + frames[wholeRecords].size() + 2 <= cut) {
      boundary += frames[wholeRecords].size() + 2;
      ++wholeRecords;
    }

    CaptureReader reader;
    Open(&reader);
    CaptureRecord record;
    for (size_t i = 0; i < wholeRecords; ++i) {
      ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kRecord);
      ASSERT_EQ(record.frame, frames[i]);
    }
    const ReadOutcome outcome = capture::ReadCaptureRecord(&reader, &record);
    ReadOutcome parsedOutcome;
    capture::Damage parsedDamage;
    size_t parsedOffset = 0;
    EXPECT_EQ(ParseWalk(prefix, &parsedOutcome, &parsedDamage, &parsedOffset), wholeRecords);
    EXPECT_EQ(parsedOutcome, outcome);
    EXPECT_EQ(parsedOffset, boundary);
    if (boundary == cut) {
      EXPECT_EQ(outcome, ReadOutcome::kEnd);
    } else {
      ASSERT_EQ(outcome, ReadOutcome::kDamage);
      const DamageKind expected = cut - boundary < 4 ? DamageKind::kTornHeader : DamageKind::kTornPayload;
      EXPECT_EQ(reader.damage.kind, expected);
      EXPECT_EQ(parsedDamage.kind, expected);
      EXPECT_EQ(reader.damage.offset, boundary);
      EXPECT_EQ(reader.damage.index, wholeRecords);
    }
    capture::CloseCaptureReader(&reader);
  }
}

TEST_F(CaptureReaderTest, ReportsEachDamageWithOffsetAndIndex) {
  const Bytes good = Encode({MakeFrame(6, 1), MakeFrame(2, 2)});  // 8 + 4 bytes
  auto after = [&](Bytes tail) {
    Bytes bytes = good;
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  struct Case {
    const char* name;
    Bytes bytes;
    DamageKind kind;
    uint64_t offset;
    uint64_t index;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"not J at start", {'K', 1, 4, 0, 9, 9}, DamageKind::kNotJ, 0, 0, "first byte is 0x4b, not 'J'"},
      {"not J later", after({0x00, 1, 2, 0}), DamageKind::kNotJ, 12, 2, "first byte is 0x00"},
      {"lone garbage byte", after({0xff}), DamageKind::kNotJ, 12, 2, "0xff"},
      {"length 0", after({'J', 1, 0, 0, 5, 5}), DamageKind::kLengthTooSmall, 12, 2, "length 0 is below 2"},
      {"length 1", {'J', 1, 1, 0}, DamageKind::kLengthTooSmall, 0, 0, "length 1 is below 2"},
      {"torn header", after({'J', 1, 9}), DamageKind::kTornHeader, 12, 2,
       "3 bytes into a 4-byte record header"},
      {"torn payload", after({'J', 1, 0x10, 0x01, 1, 2}), DamageKind::kTornPayload, 12, 2,
       "record of 274 bytes (frame length 272) runs past the end of the file, which has 6 bytes left"},
      {"length past end by one", after({'J', 1, 5, 0, 1, 2}), DamageKind::kTornPayload, 12, 2,
       "frame length 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.bytes);
    CaptureReader reader;
    Open(&reader);
    CaptureRecord record;
    uint64_t records = 0;
    ReadOutcome outcome;
    while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == ReadOutcome::kRecord) ++records;
    ASSERT_EQ(outcome, ReadOutcome::kDamage);
    EXPECT_EQ(records, c.index);
    EXPECT_EQ(reader.damage.kind, c.kind);
    EXPECT_EQ(reader.damage.offset, c.offset);
    EXPECT_EQ(reader.damage.index, c.index);
    EXPECT_NE(reader.damage.message.find(c.message), std::string::npos) << reader.damage.message;
    EXPECT_EQ(capture::FormatDamage(reader.damage), "offset " + std::to_string(c.offset) + " (record " +
                                                        std::to_string(c.index) +
                                                        "): " + reader.damage.message);
    // Damage is sticky; only a torn tail may be resumed.
    EXPECT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kDamage);
    EXPECT_EQ(capture::ResumeCaptureReader(&reader), capture::IsTornTail(c.kind));
    capture::CloseCaptureReader(&reader);
  }
}

TEST_F(CaptureReaderTest, FollowsAGrowingFile) {
  const Bytes first = Encode({MakeFrame(10, 1)});
  const Bytes second = Encode({MakeFrame(300, 2)});
  const Bytes third = Encode({MakeFrame(4, 3)});
  Bytes start = first;
  start.insert(start.end(), second.begin(), second.begin() + 100);
  WriteFile(start);

  CaptureReader reader;
  Open(&reader);
  CaptureRecord record;
  ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kRecord);
  ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kDamage);
  EXPECT_EQ(reader.damage.kind, DamageKind::kTornPayload);
  EXPECT_EQ(reader.damage.offset, first.size());

  // The writer finishes the record: the retry picks it up whole.
  WriteFile(Bytes(second.begin() + 100, second.end()), "ab");
  ASSERT_TRUE(capture::ResumeCaptureReader(&reader));
  ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kRecord);
  EXPECT_EQ(record.frame, MakeFrame(300, 2));
  EXPECT_EQ(record.offset, first.size());
  ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kEnd);

  // A clean end is not final either.
  WriteFile(third, "ab");
  ASSERT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kRecord);
  EXPECT_EQ(record.index, 2u);
  EXPECT_EQ(capture::ReadCaptureRecord(&reader, &record), ReadOutcome::kEnd);
  capture::CloseCaptureReader(&reader);
}

TEST_F(CaptureReaderTest, OpenFailureNamesThePath) {
  CaptureReader reader;
  std::string error;
  EXPECT_FALSE(capture::OpenCaptureReader(path_ + ".missing", &reader, &error));
  EXPECT_NE(error.find(path_ + ".missing: cannot open"), std::string::npos) << error;
}

TEST(ParseCaptureRecord, EmptyBufferIsCleanEnd) {
  size_t recordSize = 99;
  capture::Damage damage;
  EXPECT_EQ(capture::ParseCaptureRecord(nullptr, 0, &recordSize, &damage), ReadOutcome::kEnd);
  EXPECT_EQ(recordSize, 0u);
  EXPECT_EQ(damage.kind, DamageKind::kNone);
}

// Round trips with captures written by the receiver itself go here.

}  // namespace
