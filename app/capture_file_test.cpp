#include "capture_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "capture_encoder.h"

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

// What a reader expects.
Bytes Record(const Bytes& frame) {
  Bytes record;
  std::string error;
  EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &record, &error)) << error;
  return record;
}

// As the receive loop does: the frame read into the writer's buffer, then appended.
AppendOutcome Append(CaptureFile& file, const Bytes& frame, std::string* error) {
  std::memcpy(CaptureFrameBuffer(file), frame.data(), frame.size());
  return AppendCaptureRecord(file, static_cast<uint16_t>(frame.size()), error);
}

TEST_F(CaptureFileTest, RecordsHoldTheFrameWithItsLengthAfterTheFirstTwoBytes) {
  struct Case {
    size_t n;
    uint8_t lengthLow, lengthHigh;
  };
  for (const Case& c : {Case{2, 0x02, 0x00}, Case{300, 0x2C, 0x01}, Case{65535, 0xFF, 0xFF}}) {
    SCOPED_TRACE(c.n);
    CaptureFile file;
    std::string error;
    ASSERT_TRUE(OpenCaptureFile(file, path_, &error)) << error;
    const Bytes frame = Frame(c.n);
    ASSERT_EQ(Append(file, frame, &error), AppendOutcome::kStored) << error;
    // Flushed: visible to another reader before the stream is closed.
    const Bytes bytes = ReadFile();
    ASSERT_EQ(bytes.size(), c.n + 2);
    EXPECT_EQ(bytes[0], 'J');
    EXPECT_EQ(bytes[1], frame[1]);
    EXPECT_EQ(bytes[2], c.lengthLow);
    EXPECT_EQ(bytes[3], c.lengthHigh);
    EXPECT_EQ(bytes, Record(frame));
    EXPECT_EQ(CaptureFilePosition(file), static_cast<int64_t>(c.n + 2));
    CloseCaptureFile(file);
  }
}

TEST_F(CaptureFileTest, LineFeedsAndCarriageReturnsAreStoredUnchanged) {
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, path_, &error));
  const Bytes frame = {'J', 0x0A, 0x0D, 0x0A, 0x00, 0x1A, 0x0A};
  ASSERT_EQ(Append(file, frame, &error), AppendOutcome::kStored);
  ASSERT_EQ(Append(file, frame, &error), AppendOutcome::kStored);
  CloseCaptureFile(file);
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
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, path_, &error));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_EQ(CaptureFilePosition(file), 0);
}

TEST_F(CaptureFileTest, AnotherProcessMayOpenTheFileWhileItIsWritten) {
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, path_, &error));
  std::ofstream writer(path_, std::ios::binary | std::ios::app);
  std::ifstream reader(path_, std::ios::binary);
  EXPECT_TRUE(writer.is_open());
  EXPECT_TRUE(reader.is_open());
}

TEST_F(CaptureFileTest, NamesThatCannotBeCreatedFailWithTheSystemsReason) {
  const std::string missingFolder = (dir_ / "no-such-folder" / "x.bin").string();
  for (const std::string& name : {std::string(), dir_.string(), missingFolder}) {
    SCOPED_TRACE(name);
    CaptureFile file;
    std::string error;
    EXPECT_FALSE(OpenCaptureFile(file, name, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(CaptureFilePosition(file), -1);
    EXPECT_EQ(Append(file, Frame(4), &error), AppendOutcome::kFailed);
  }
}

TEST_F(CaptureFileTest, AFailedWriteIsReportedAndEveryLaterAppendFails) {
  // Under wine the device is reached through the drive that maps the root.
  const std::string full = fs::absolute("/dev/full").string();
  if (!std::ifstream(full).is_open()) GTEST_SKIP() << "no /dev/full";
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, full, &error));
  // A device has nothing to cut back; that is not a second failure.
  EXPECT_EQ(Append(file, Frame(64), &error), AppendOutcome::kFailed);
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_NE(error.find("space"), std::string::npos) << error;
  EXPECT_EQ(CaptureFilePosition(file), -1);
  EXPECT_EQ(Append(file, Frame(4), &error), AppendOutcome::kFailed);
}

// A 1-byte frame has no second byte for the record; the file must stay as
// it was and the next frame must be stored normally.
TEST_F(CaptureFileTest, AOneByteFrameIsRefusedAndLeavesTheFileWhole) {
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, path_, &error));
  EXPECT_EQ(Append(file, Bytes{'J'}, &error), AppendOutcome::kTooShort);
  EXPECT_EQ(Append(file, Frame(3), &error), AppendOutcome::kStored);
  CloseCaptureFile(file);
  EXPECT_EQ(ReadFile(), Record(Frame(3)));
}

}  // namespace
