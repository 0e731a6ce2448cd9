#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "capture_writer.h"

namespace {

namespace fs = std::filesystem;

// Other programs watch the capture file while it grows: they open it the
// way Windows programs do, sharing it for reading and writing, and must be
// able to read; a program that wants to write into it must be refused.
TEST(CaptureWriterSharing, OthersMayReadButNotWriteWhileItIsRecorded) {
  const fs::path path =
      fs::temp_directory_path() / ("capture_share_" + std::to_string(GetCurrentProcessId()));
  capture::CaptureFile file;
  std::string error;
  ASSERT_EQ(capture::OpenCaptureFile(file, path.string(), &error), platform::RecordingOpen::kOpened) << error;
  const uint8_t record[] = {'J', 1, 4, 0, 2, 3};
  ASSERT_TRUE(capture::AppendCaptureRecords(file, record, sizeof record, 1, &error)) << error;

  HANDLE reader = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  char bytes[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(reader, bytes, sizeof bytes, &read, nullptr));
  EXPECT_EQ(read, 6u);  // the record is visible at once
  CloseHandle(reader);

  HANDLE writer = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  capture::CloseCaptureFile(file);
  fs::remove(path);
}

}  // namespace
