#include "capture_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "capture_encoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class CaptureWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("capture_writer_test_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
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

// Records of frames of the given lengths, back to back; the bytes include
// line feeds and carriage returns, which must be stored unchanged.
Bytes Records(const std::vector<size_t>& lengths) {
  Bytes records;
  std::string error;
  for (size_t n : lengths) {
    Bytes frame(n);
    for (size_t i = 0; i < n; ++i) frame[i] = static_cast<uint8_t>(i % 2 == 0 ? 0x0A : 0x0D);
    frame[0] = 'J';
    EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), n, &records, &error)) << error;
  }
  return records;
}

bool Append(capture::CaptureFile& file, const Bytes& records, uint64_t count, std::string* error) {
  return capture::AppendCaptureRecords(file, records.data(), records.size(), count, error);
}

TEST_F(CaptureWriterTest, EachAppendIsInTheFileWhenItReturns) {
  {
    std::ofstream old(path_, std::ios::binary);
    old << "a previous run's bytes, to be emptied";
  }
  capture::CaptureFile file;
  std::string error;
  ASSERT_EQ(capture::OpenCaptureFile(file, path_, &error), platform::RecordingOpen::kOpened) << error;
  EXPECT_EQ(fs::file_size(path_), 0u);
  const Bytes first = Records({2, 300});
  const Bytes second = Records({65535});
  ASSERT_TRUE(Append(file, first, 2, &error)) << error;
  EXPECT_EQ(ReadFile(), first);  // visible to another reader at once
  ASSERT_TRUE(Append(file, second, 1, &error)) << error;
  EXPECT_EQ(capture::CaptureFilePosition(file), static_cast<int64_t>(first.size() + second.size()));
  EXPECT_EQ(file.records, 3u);
  capture::CloseCaptureFile(file);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(ReadFile(), both);
}

TEST_F(CaptureWriterTest, NamesThatCannotBeCreatedFailWithTheSystemsReason) {
  const std::string missingFolder = (dir_ / "no-such-folder" / "x.bin").string();
  for (const std::string& name : {std::string(), dir_.string(), missingFolder}) {
    SCOPED_TRACE(name);
    capture::CaptureFile file;
    std::string error;
    EXPECT_EQ(capture::OpenCaptureFile(file, name, &error), platform::RecordingOpen::kFailed);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(Append(file, Records({4}), 1, &error));
  }
}

// A second recorder of the same file must neither empty it nor write into
// it; readers are welcome. Once the first is done the file is free again.
TEST_F(CaptureWriterTest, ASecondRecorderIsRefusedWhileReadersMayRead) {
  capture::CaptureFile first;
  std::string error;
  ASSERT_EQ(capture::OpenCaptureFile(first, path_, &error), platform::RecordingOpen::kOpened) << error;
  const Bytes records = Records({10, 20});
  ASSERT_TRUE(Append(first, records, 2, &error)) << error;

  capture::CaptureFile second;
  EXPECT_EQ(capture::OpenCaptureFile(second, path_, &error), platform::RecordingOpen::kInUse);
  EXPECT_EQ(ReadFile(), records);
  ASSERT_TRUE(Append(first, records, 2, &error)) << error;
  EXPECT_EQ(ReadFile().size(), 2 * records.size());

  capture::CloseCaptureFile(first);
  EXPECT_EQ(capture::OpenCaptureFile(second, path_, &error), platform::RecordingOpen::kOpened) << error;
  capture::CloseCaptureFile(second);
  EXPECT_EQ(fs::file_size(path_), 0u);
}

TEST_F(CaptureWriterTest, AFailedWriteIsReportedAndEveryLaterAppendFails) {
  // Under wine the device is reached through the drive that maps the root.
  const std::string full = fs::absolute("/dev/full").string();
  if (!std::ifstream(full).is_open()) GTEST_SKIP() << "no /dev/full";
  capture::CaptureFile file;
  std::string error;
  ASSERT_EQ(capture::OpenCaptureFile(file, full, &error), platform::RecordingOpen::kOpened) << error;
  // A device has nothing to cut back; that is not a second failure.
  EXPECT_FALSE(Append(file, Records({64, 64}), 2, &error));
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_NE(error.find("space"), std::string::npos) << error;
  EXPECT_EQ(file.records, 0u);
  EXPECT_FALSE(Append(file, Records({4}), 1, &error));
  capture::CloseCaptureFile(file);
}

}  // namespace
