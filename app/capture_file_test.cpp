#include "capture_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class CaptureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("capture_file_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    path_ = (dir_ / "capture.bin").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  Bytes ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string path_;
};

Bytes Frame(size_t n, uint8_t first = 'J') {
  Bytes frame(n);
  for (size_t i = 0; i < n; ++i) frame[i] = static_cast<uint8_t>(i * 7 + 3);
  frame[0] = first;
  return frame;
}

// What a reader expects: bytes 0 and 1, the length little-endian, the rest.
Bytes Record(const Bytes& frame) {
  Bytes record = {frame[0], frame[1], static_cast<uint8_t>(frame.size() & 0xFF),
                  static_cast<uint8_t>(frame.size() >> 8)};
  record.insert(record.end(), frame.begin() + 2, frame.end());
  return record;
}

TEST_F(CaptureFileTest, RecordsHoldTheFrameWithItsLengthAfterTheFirstTwoBytes) {
  struct Case {
    size_t n;
    uint8_t lengthLow, lengthHigh;
  };
  for (const Case& c : {Case{2, 0x02, 0x00}, Case{300, 0x2C, 0x01}, Case{65535, 0xFF, 0xFF}}) {
    SCOPED_TRACE(c.n);
    std::ofstream stream;
    std::string error;
    ASSERT_TRUE(OpenCaptureFile(stream, path_, &error)) << error;
    const Bytes frame = Frame(c.n);
    ASSERT_TRUE(AppendCaptureRecord(stream, frame.data(), static_cast<uint16_t>(c.n), &error)) << error;
    // Flushed: visible to another reader before the stream is closed.
    const Bytes bytes = ReadFile();
    ASSERT_EQ(bytes.size(), c.n + 2);
    EXPECT_EQ(bytes[0], 'J');
    EXPECT_EQ(bytes[1], frame[1]);
    EXPECT_EQ(bytes[2], c.lengthLow);
    EXPECT_EQ(bytes[3], c.lengthHigh);
    EXPECT_EQ(bytes, Record(frame));
    EXPECT_EQ(CaptureFilePosition(stream), static_cast<int64_t>(c.n + 2));
    CloseCaptureFile(stream);
  }
}

TEST_F(CaptureFileTest, LineFeedsAndCarriageReturnsAreStoredUnchanged) {
  std::ofstream stream;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(stream, path_, &error));
  const Bytes frame = {'J', 0x0A, 0x0D, 0x0A, 0x00, 0x1A, 0x0A};
  ASSERT_TRUE(AppendCaptureRecord(stream, frame.data(), 7, &error));
  ASSERT_TRUE(AppendCaptureRecord(stream, frame.data(), 7, &error));
  CloseCaptureFile(stream);
  Bytes expected = Record(frame);
  const Bytes once = expected;
  expected.insert(expected.end(), once.begin(), once.end());
  EXPECT_EQ(ReadFile(), expected);
}

TEST_F(CaptureFileTest, AnExistingFileIsEmptiedNotAppendedTo) {
  {
    std::ofstream old(path_, std::ios::binary);
    old << "previous run's bytes";
  }
  std::ofstream stream;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(stream, path_, &error));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_EQ(CaptureFilePosition(stream), 0);
}

TEST_F(CaptureFileTest, AnotherProcessMayOpenTheFileWhileItIsWritten) {
  std::ofstream stream;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(stream, path_, &error));
  std::ofstream writer(path_, std::ios::binary | std::ios::app);
  std::ifstream reader(path_, std::ios::binary);
  EXPECT_TRUE(writer.is_open());
  EXPECT_TRUE(reader.is_open());
}

TEST_F(CaptureFileTest, NamesThatCannotBeCreatedFailWithTheSystemsReason) {
  const std::string missingFolder = (dir_ / "no-such-folder" / "x.bin").string();
  for (const std::string& name : {std::string(), dir_.string(), missingFolder}) {
    SCOPED_TRACE(name);
    std::ofstream stream;
    std::string error;
    EXPECT_FALSE(OpenCaptureFile(stream, name, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(CaptureFilePosition(stream), -1);
    const Bytes frame = Frame(4);
    EXPECT_FALSE(AppendCaptureRecord(stream, frame.data(), 4, &error));
  }
}

TEST_F(CaptureFileTest, AFailedWriteIsReportedAndTheFileCutBackToItsLastRecord) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::ofstream stream;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(stream, "/dev/full", &error));
  const Bytes frame = Frame(64);
  EXPECT_FALSE(AppendCaptureRecord(stream, frame.data(), 64, &error));
  EXPECT_NE(error.find("space"), std::string::npos) << error;
  EXPECT_EQ(CaptureFilePosition(stream), -1);
  // A device has nothing to cut; that is not a failure.
  EXPECT_TRUE(CutCaptureFile(stream, "/dev/full", 0, &error)) << error;
}

TEST_F(CaptureFileTest, CuttingDropsATornTail) {
  std::ofstream stream;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(stream, path_, &error));
  const Bytes frame = Frame(10);
  ASSERT_TRUE(AppendCaptureRecord(stream, frame.data(), 10, &error));
  stream.write("J\x01\xff", 3);  // the start of a record that never finished
  ASSERT_TRUE(CutCaptureFile(stream, path_, 12, &error)) << error;
  EXPECT_FALSE(stream.is_open());
  EXPECT_EQ(ReadFile(), Record(frame));
}

}  // namespace
