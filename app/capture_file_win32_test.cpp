#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "capture_file.h"

namespace {

namespace fs = std::filesystem;

// Other programs watch the capture file while it grows, some of them opening
// it for writing too (editors, copy tools). A stream that denied sharing would
// lock them out, so open a second handle the way such a program does.
TEST(CaptureFileSharing, AnotherHandleMayReadAndWriteWhileTheStreamHasTheFileOpen) {
  const fs::path path =
      fs::temp_directory_path() / ("capture_share_" + std::to_string(GetCurrentProcessId()));
  CaptureFile file;
  std::string error;
  ASSERT_TRUE(OpenCaptureFile(file, path.string(), &error)) << error;
  const uint8_t frame[] = {'J', 1, 2, 3};
  std::memcpy(CaptureFrameBuffer(file), frame, sizeof frame);
  ASSERT_EQ(AppendCaptureRecord(file, sizeof frame, &error), AppendOutcome::kStored) << error;

  for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_READ | GENERIC_WRITE}}) {
    SCOPED_TRACE(access);
    HANDLE other = CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    char bytes[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(other, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(read, 6u);  // the record is visible at once
    EXPECT_EQ(std::string(bytes, 4), std::string("J\x01\x04\x00", 4));
    CloseHandle(other);
  }
  CloseCaptureFile(file);
  fs::remove(path);
}

}  // namespace
