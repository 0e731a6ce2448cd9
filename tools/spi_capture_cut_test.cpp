// spi-capture slice, split and check as processes: the pieces must always
// add up to the input, and the frame counter must find exactly the frames
// that are not there.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

// Frames of varied lengths, some of them the largest a record can hold.
std::vector<Bytes> VariedFrames() {
  std::vector<Bytes> frames;
  for (size_t i = 0; i < 40; ++i) {
    const size_t length = i % 13 == 5 ? capture::kMaxFrameLength : 2 + (i * 97) % 700;
    frames.push_back(MakeFrame(length, static_cast<uint8_t>(i)));
  }
  return frames;
}

std::vector<fs::path> Parts(const fs::path& dir, const std::string& prefix) {
  std::vector<fs::path> parts;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) parts.push_back(entry.path());
  }
  std::sort(parts.begin(), parts.end());
  return parts;
}

TEST_F(SpiCaptureTest, SlicesTileTheCapture) {
  const std::vector<Bytes> frames = VariedFrames();
  const Bytes input = Encode(frames);
  WriteBytes(Path("in.cap"), input);
  for (size_t size : {1, 7, 40}) {
    Bytes joined;
    for (size_t from = 0; from < frames.size(); from += size) {
      SCOPED_TRACE("from " + std::to_string(from) + " count " + std::to_string(size));
      const RunResult result = Run("slice in.cap --from " + std::to_string(from) + " --count " +
                                   std::to_string(size) + " -o s.cap");
      ASSERT_EQ(result.status, 0) << result.err;
      const Bytes slice = ReadBytes(Path("s.cap"));
      const size_t last = std::min(from + size, frames.size());
      EXPECT_EQ(slice, Encode(std::vector<Bytes>(frames.begin() + from, frames.begin() + last)));
      joined.insert(joined.end(), slice.begin(), slice.end());
    }
    EXPECT_EQ(joined, input);
  }
  RunResult result = Run("slice - --from 39 -o -", PipedFrom("in.cap"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.bytes, Encode({frames.back()}));

  // Damage inside the range: the valid records asked for, and exit 1.
  result = Run("slice damaged.cap --from 1 -o s.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadBytes(Path("s.cap")), Encode({frames_[1]}));
  // "-o=x" and "--output=x" name x, not "=x".
  EXPECT_EQ(Run("slice good.cap --from 2 -o=last.cap").status, 0);
  EXPECT_EQ(Run("slice good.cap --from 2 --output=last2.cap").status, 0);
  EXPECT_EQ(ReadBytes(Path("last.cap")), Encode({frames_[2]}));
  EXPECT_EQ(ReadBytes(Path("last2.cap")), Encode({frames_[2]}));
  EXPECT_FALSE(fs::exists(Path("=last.cap")));
}

// One rule: --from names a record of the input. Past the last record, on an
// empty file and past damage alike, the empty selection is an error and no
// file is left.
TEST_F(SpiCaptureTest, SliceFromPastTheRecordsIsAnErrorAndWritesNothing) {
  WriteBytes(Path("empty.cap"), {});
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"slice good.cap --from 3 -o s.cap", "good.cap: has only 3 records; --from 3 is past the end\n"},
      {"slice empty.cap --from 0 -o s.cap", "empty.cap: has only 0 records; --from 0 is past the end\n"},
      {"slice damaged.cap --from 2 -o s.cap",
       "damaged.cap: has 2 records before the damage; --from 2 is past the end\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_CONTAINS(result.err, c.message);
    EXPECT_FALSE(fs::exists(Path("s.cap")));
  }
}

TEST_F(SpiCaptureTest, SplitPartsJoinToTheInputAndKeepTheirLimits) {
  const std::vector<Bytes> frames = VariedFrames();
  const Bytes input = Encode(frames);
  WriteBytes(Path("in.cap"), input);
  for (const std::string limit : {"--records 1", "--records 6", "--records 1000", "--bytes 4", "--bytes 1500",
                                  "--bytes 65537", "--bytes 1000000"}) {
    SCOPED_TRACE(limit);
    const RunResult result = Run("split in.cap " + limit + " -o part --force");
    ASSERT_EQ(result.status, 0) << result.err;
    uint64_t bytesLimit = 0;
    if (limit.compare(0, 7, "--bytes") == 0) bytesLimit = std::stoull(limit.substr(8));
    Bytes joined;
    size_t records = 0;
    for (const fs::path& part : Parts(dir_, "part_")) {
      EXPECT_EQ(part.filename().string().size(), std::string("part_00000.bin").size());
      EXPECT_EQ(Run("verify " + part.filename().string()).status, 0) << part;
      const Bytes bytes = ReadBytes(part);
      capture::CaptureReader reader;
      std::string error;
      ASSERT_TRUE(capture::OpenCaptureReader(part.string(), &reader, &error));
      capture::CaptureRecord record;
      size_t inPart = 0;
      while (capture::ReadCaptureRecord(&reader, &record) == capture::ReadOutcome::kRecord) ++inPart;
      capture::CloseCaptureReader(&reader);
      if (bytesLimit > 0 && inPart > 1) {
        EXPECT_LE(bytes.size(), bytesLimit) << part;
      }
      if (limit == "--records 6") {
        EXPECT_LE(inPart, 6u);
      }
      records += inPart;
      joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(records, frames.size());
    EXPECT_EQ(joined, input);
  }
  // The last run made one part; a run with more parts before it must not
  // have left its extra parts behind.
  EXPECT_EQ(Parts(dir_, "part_").size(), 1u);
}

TEST_F(SpiCaptureTest, SplitRefusesOldPartsAndNeverTheInput) {
  RunResult result = Run("split - --records 1 -o p", PipedFrom("good.cap"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "p: 3 parts, 3 records\n");
  EXPECT_EQ(Concat({ReadBytes(Path("p_00000.bin")), ReadBytes(Path("p_00001.bin")),
                    ReadBytes(Path("p_00002.bin"))}),
            good_);

  result = Run("split good.cap --records 2 -o p");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "p_00000.bin: exists; --force deletes the old parts first");
  EXPECT_EQ(Parts(dir_, "p_").size(), 3u);

  // Splitting a part under its own prefix would delete or overwrite it.
  result = Run("split p_00001.bin --records 2 -o p --force");
  EXPECT_EQ(result.status, 2);
  EXPECT_CONTAINS(result.err, "is also an input");
  EXPECT_EQ(ReadBytes(Path("p_00001.bin")), Encode({frames_[1]}));

  // A damaged input: the parts of its valid records, and exit 1.
  result = Run("split damaged.cap --records 1 -o d");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(Parts(dir_, "d_").size(), 2u);
  EXPECT_CONTAINS(result.err, "offset 12 (record 2): length 1 is below 2");
}

// --force deletes only the names this split writes (PREFIX_ and five
// digits), each only when it is a whole capture, and lists them; the user's
// files beside them stay.
TEST_F(SpiCaptureTest, SplitForceDeletesOnlyItsOwnOldParts) {
  fs::create_directories(dir_ / "sp");
  const Bytes mine = {'m', 'i', 'n', 'e'};
  const std::vector<std::string> users = {"run_1.bin", "run_2.bin", "run_001.bin", "run_123456789.bin"};
  for (const std::string& name : users) WriteBytes(dir_ / "sp" / name, mine);
  WriteBytes(dir_ / "sp" / "run_00007.bin", good_);  // a stale part
  RunResult result = Run("split good.cap --records 2 -o sp/run --force");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "deleted old part sp/run_00007.bin\nsp/run: 2 parts, 3 records\n");
  for (const std::string& name : users) EXPECT_EQ(ReadBytes(dir_ / "sp" / name), mine) << name;
  EXPECT_EQ(Parts(dir_ / "sp", "run_").size(), users.size() + 2);
  EXPECT_FALSE(fs::exists(dir_ / "sp" / "run_00007.bin"));

  // A part's name that holds no capture is the user's: refused, as without
  // --force, and nothing is deleted.
  WriteBytes(dir_ / "sp" / "run_00003.bin", mine);
  result = Run("split good.cap --records 2 -o sp/run --force");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "sp/run_00003.bin: is not a whole capture, so not an old part");
  EXPECT_EQ(ReadBytes(dir_ / "sp" / "run_00003.bin"), mine);
  EXPECT_TRUE(fs::exists(dir_ / "sp" / "run_00000.bin"));

  // Nor is the input deleted when it goes by another name.
  fs::create_hard_link(dir_ / "sp" / "run_00000.bin", dir_ / "again.cap");
  result = Run("split again.cap --records 1 -o sp/run --force");
  EXPECT_EQ(result.status, 2);
  EXPECT_CONTAINS(result.err, "sp/run_00000.bin: is also an input");
  EXPECT_TRUE(fs::exists(dir_ / "sp" / "run_00000.bin"));
}

// Frames whose bytes 1..4 hold a counter, as the simulated master's do.
Bytes CounterFrame(uint64_t counter, size_t length, size_t width = 4, bool bigEndian = false) {
  Bytes frame = MakeFrame(length, static_cast<uint8_t>(counter));
  for (size_t i = 0; i < width; ++i) {
    const size_t shift = 8 * (bigEndian ? width - 1 - i : i);
    frame[1 + i] = static_cast<uint8_t>(counter >> shift);
  }
  return frame;
}

TEST_F(SpiCaptureTest, CheckReportsEveryGapInTheCounter) {
  std::vector<Bytes> frames;
  for (uint64_t n : {5, 6, 7, 10, 11, 12, 20}) frames.push_back(CounterFrame(n, 16));
  WriteBytes(Path("gaps.cap"), Encode(frames));
  RunResult result = Run("check gaps.cap --counter 1:4");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "record 3: expected 8, found 10: 2 frames missing\n"
            "record 6: expected 13, found 20: 7 frames missing\n"
            "frames 7, missing 9 (56.25 %)\n");

  // Continuous through the wrap of a 2-byte big-endian counter, step 3.
  frames.clear();
  for (uint64_t n = 65530; n < 65530 + 30; n += 3) frames.push_back(CounterFrame(n & 0xffff, 8, 2, true));
  WriteBytes(Path("wrap.cap"), Encode(frames));
  result = Run("check wrap.cap --counter 1:2:be --step 3");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, "frames 10, missing 0 (0.00 %)\n");

  // A counter that goes back is no loss, but still a finding; so is a frame
  // too short to hold the counter.
  WriteBytes(Path("odd.cap"),
             Encode({CounterFrame(9, 16), CounterFrame(3, 16), MakeFrame(3, 0), CounterFrame(5, 16)}));
  result = Run("check odd.cap --counter 1:4");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "record 1: expected 10, found 3: the counter went back or off its step\n"
            "record 2: frame of 3 bytes is too short for a counter at bytes 1..4\n"
            "frames 4, missing 0 (0.00 %); the counter went back or off its step in 1 place; 1 frame too "
            "short for the counter\n");
}

// The bridge coalesced several 64-byte frames per read; one frame never
// arrived.
TEST_F(SpiCaptureTest, CheckSplitsCoalescedRecordsByTheFrameSize) {
  std::vector<Bytes> records;
  uint64_t counter = 0;
  for (size_t perRecord : {1, 3, 2, 4}) {
    std::vector<Bytes> frames;
    for (size_t i = 0; i < perRecord; ++i) {
      if (counter == 4) ++counter;  // lost
      frames.push_back(CounterFrame(counter++, 64));
    }
    records.push_back(Concat(frames));
  }
  WriteBytes(Path("coalesced.cap"), Encode(records));
  RunResult result = Run("check coalesced.cap --counter 1:4 --frame-size 64");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "record 2 frame 0: expected 4, found 5: 1 frame missing\n"
            "frames 10, missing 1 (9.09 %)\n");
  // Without the frame size each record is one frame: the frames inside
  // records look lost, until a gap matches the frames a record would hold.
  result = Run("check coalesced.cap --counter 1:4");
  EXPECT_EQ(
      result.out,
      "record 2: expected 2, found 5: 3 frames missing\n"
      "record 2: holds 2 frames of 64 bytes, as a bridge that joins frames delivers them; check with "
      "--frame-size 64 (further gaps are counted, not listed)\n"
      "frames 4, missing 4 (50.00 %); records look like joined frames of 64 bytes: try --frame-size 64\n");
}

// A full buffer cut a read inside frame 5, and frames 6 and 7 were lost
// while it was full: the record holds frames 3 and 4 and the head of 5,
// which is no frame, so 5 counts among the missing.
TEST_F(SpiCaptureTest, CheckTellsAFrameCutByAFullBufferFromWholeFrames) {
  std::vector<Bytes> records;
  records.push_back(Concat({CounterFrame(0, 64), CounterFrame(1, 64), CounterFrame(2, 64)}));
  const Bytes cut = CounterFrame(5, 64);
  records.push_back(Concat({CounterFrame(3, 64), CounterFrame(4, 64), Bytes(cut.begin(), cut.begin() + 30)}));
  records.push_back(Concat({CounterFrame(8, 64), CounterFrame(9, 64)}));
  WriteBytes(Path("cut.cap"), Encode(records));
  const std::string summary =
      "frames 7, missing 3 (30.00 %); 1 record cut short by a full buffer, its last frame a fragment\n";
  RunResult result = Run("check cut.cap --counter 1:4 --frame-size 64");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.out,
      "record 1 frame 2: only the first 30 bytes of the frame; the bridge's buffer was full and the rest "
      "was lost\n"
      "record 2 frame 0: expected 5, found 8: 3 frames missing\n" +
          summary);
  EXPECT_EQ(result.err, "");
  result = Run("check cut.cap --counter 1:4 --frame-size 64 --summary");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, summary);
  result = Run("check cut.cap --counter 1:4 --frame-size 64 --json");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.out,
      "{\"records\": 3, \"frames\": 7, \"missing\": 3, \"missing_percent\": 30.00, \"counter_jumps\": 0, "
      "\"too_short\": 0, \"fragments\": 1, \"frame_size_hint\": null, \"left_out\": 0, \"damaged\": "
      "false}\n");
  EXPECT_EQ(Run("check cut.cap --counter 1:4 --summary --json").status, 2);
}

}  // namespace
