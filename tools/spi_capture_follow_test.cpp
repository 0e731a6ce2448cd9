// spi-capture follow as a process, against a capture that this test writes
// piece by piece while it runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

// Appends bytes and makes them visible at once, as the receiver does.
void Append(const std::string& path, const Bytes& bytes, size_t from, size_t to) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data() + from, 1, to - from, file), to - from);
  std::fclose(file);
}

uint64_t SizeOf(const std::string& path) {
  std::error_code code;
  const uint64_t size = fs::file_size(fs::u8path(path), code);
  return code ? 0 : size;
}

// The capture grows in pieces that end inside headers and payloads; after
// each piece the test waits until the follower has given out every record
// that is whole by then, so the follower meets each torn record as it is.
// It must give out every record once it is whole, and nothing else.
TEST_F(SpiCaptureTest, FollowWaitsOutTornRecordsAndGivesOutTheCaptureAsWritten) {
  std::vector<Bytes> frames;
  for (size_t i = 0; i < 60; ++i) frames.push_back(MakeFrame(2 + (i * 53) % 300, static_cast<uint8_t>(i)));
  const Bytes capture = Encode(frames);
  const std::string live = Path("live.cap");
  WriteBytes(live, {});
  const int asCapture =
      Start({"follow", "live.cap", "-o", "followed.cap", "--idle-exit", "1"}, "c.out", "c.err");
  const int asRaw =
      Start({"follow", "live.cap", "--format", "raw", "--idle-exit", "1"}, "raw.out", "raw.err");
  size_t written = 0;
  size_t whole = 0;     // records whole in the file so far
  size_t wholeEnd = 0;  // where they end in the capture
  uint64_t rawBytes = 0;
  for (size_t piece = 0; written < capture.size(); ++piece) {
    const size_t next = std::min(capture.size(), written + 3 + (piece * 37) % 211);
    Append(live, capture, written, next);
    written = next;
    while (whole < frames.size() && wholeEnd + 2 + frames[whole].size() <= written) {
      wholeEnd += 2 + frames[whole].size();
      rawBytes += frames[whole++].size();
    }
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(Path("raw.out")) >= rawBytes; }, 10000))
        << "the follower gave out " << SizeOf(Path("raw.out")) << " bytes of " << rawBytes;
  }
  EXPECT_EQ(Wait(asCapture, 20000), 0) << ReadText(Path("c.err"));
  EXPECT_EQ(Wait(asRaw, 20000), 0) << ReadText(Path("raw.err"));
  EXPECT_EQ(ReadBytes(Path("followed.cap")), capture);
  EXPECT_EQ(ReadBytes(Path("raw.out")), Concat(frames));
  EXPECT_EQ(AsText(ReadText(Path("raw.err"))), "live.cap: followed 60 records\n");
}

// A new recording empties the file: that ends the following with status 1,
// keeping what was followed before.
TEST_F(SpiCaptureTest, FollowReportsAFileThatShrinks) {
  const std::string live = Path("live.cap");
  WriteBytes(live, good_);
  const int run = Start({"follow", "live.cap"}, "followed.cap", "err");
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(Path("followed.cap")) == good_.size(); }, 10000));
  WriteBytes(live, {});
  EXPECT_EQ(Wait(run, 10000), 1);
  EXPECT_CONTAINS(ReadText(Path("err")), "spi-capture: live.cap: shrank from 54 bytes to 0");
  EXPECT_EQ(ReadBytes(Path("followed.cap")), good_);
}

TEST_F(SpiCaptureTest, FollowEndsWithStatus0OnAStopRequest) {
  for (int signal : StopRequests()) {
    SCOPED_TRACE(StopName(signal));
    std::string reason;
    if (!CanStop(signal, &reason)) {
      std::printf("[ skipped  ] %s\n", reason.c_str());
      continue;
    }
    const std::string csv = "followed-" + std::to_string(signal) + ".csv";
    const std::string err = "err-" + std::to_string(signal);
    const int run = Start({"follow", "good.cap", "--format", "csv"}, csv, err);
    // The header and three rows: it has caught up.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string rows = ReadText(Path(csv));
          return std::count(rows.begin(), rows.end(), '\n') == 4;
        },
        10000));
    const auto start = std::chrono::steady_clock::now();
    Stop(run, signal);
    EXPECT_EQ(Wait(run, 10000), 0) << ReadText(Path(err));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ReadText(Path(csv)).substr(0, 40), "index,offset,length,byte1,payload_hex\n0,");
    EXPECT_EQ(AsText(ReadText(Path(err))), "good.cap: followed 3 records\n");
  }
  // Damage that no waiting can mend ends it at once.
  RunResult result = Run("follow damaged.cap -o followed.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "damaged.cap: offset 12 (record 2): length 1 is below 2");
}

// follow can start before the recording: it says it waits for the file,
// then follows it, splitting records into frames as export does. A file
// that never comes ends it at the idle limit with status 1, leaving nothing.
TEST_F(SpiCaptureTest, FollowWaitsForTheFileToAppearAndSplitsFrames) {
  const int pid = Start(
      {"follow", "later.cap", "--format", "csv", "--frame-size", "4", "-o", "later.csv", "--idle-exit", "1"},
      "out", "err");
  ASSERT_TRUE(WaitUntil([&] { return !ReadText(Path("out")).empty(); }, 10000));
  EXPECT_EQ(AsText(ReadText(Path("out"))), "later.cap: waiting for it to appear\n");
  WriteBytes(Path("later.cap"), Encode({Concat({MakeFrame(4, 10), MakeFrame(4, 20)}), MakeFrame(6, 30)}));
  EXPECT_EQ(Wait(pid, 20000), 0) << ReadText(Path("err"));
  EXPECT_EQ(ReadText(Path("later.csv")),
            "index,record,offset,length,byte1,payload_hex\n"
            "0,0,0,4,0d,4a0d1013\n"
            "1,0,0,4,17,4a171a1d\n"
            "2,1,10,6,21,4a2124272a2d\n");
  EXPECT_CONTAINS(AsText(ReadText(Path("out"))), "later.cap: followed 2 records\n");
  EXPECT_CONTAINS(ReadText(Path("err")), "(record 1): frame length 6 is not a multiple of the frame size 4");

  const RunResult never = Run("follow never.cap -o never.cap.copy --idle-exit 1");
  EXPECT_EQ(never.status, 1);
  EXPECT_CONTAINS(never.err, "spi-capture: never.cap: did not appear within 1 second\n");
  EXPECT_FALSE(fs::exists(Path("never.cap.copy")));
}

// An idle limit of centuries is a long wait, not none: well past the
// shortest limit (a second) after it has caught up, it still runs.
TEST_F(SpiCaptureTest, FollowWaitsOutAnIdleLimitOfAnySize) {
  std::vector<int> runs;
  for (const std::string limit : {"10000000000", "18446744073709551615"}) {
    runs.push_back(Start({"follow", "good.cap", "--idle-exit", limit}, "out-" + limit, "err-" + limit));
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(Path("out-" + limit)) == good_.size(); }, 10000));
  }
  EXPECT_FALSE(WaitUntil([&] { return !Running(runs[0]) || !Running(runs[1]); }, 1500))
      << "follow ended before its idle limit";
  for (int run : runs) {
    Stop(run);
    EXPECT_EQ(Wait(run, 10000), 0);
  }
}

}  // namespace
