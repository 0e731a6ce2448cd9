#include "platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int64_t ElapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ReceiveEvent, SignalBeforeWaitIsKeptAndConsumed) {
  platform::EventHandle event = platform::CreateReceiveEvent();
  ASSERT_NE(event, nullptr);
  platform::SignalReceiveEvent(event);
  EXPECT_TRUE(platform::WaitReceiveEvent(event, 1000));
  // Auto-reset: the signal was consumed by the first wait.
  const auto start = Clock::now();
  EXPECT_FALSE(platform::WaitReceiveEvent(event, 50));
  EXPECT_GE(ElapsedMs(start), 45);
  platform::CloseReceiveEvent(event);
}

TEST(ReceiveEvent, UnsignalledWaitLastsItsLimit) {
  platform::EventHandle event = platform::CreateReceiveEvent();
  const auto start = Clock::now();
  EXPECT_FALSE(platform::WaitReceiveEvent(event, 120));
  EXPECT_GE(ElapsedMs(start), 115);
  platform::CloseReceiveEvent(event);
}

TEST(ReceiveEvent, SignalFromAnotherThreadWakesTheWaiter) {
  platform::EventHandle event = platform::CreateReceiveEvent();
  std::thread signaller([event] {
    platform::SleepMs(20);
    platform::SignalReceiveEvent(event);
  });
  EXPECT_TRUE(platform::WaitReceiveEvent(event, 5000));
  signaller.join();
  platform::CloseReceiveEvent(event);
}

TEST(ReceiveEvent, NullEventNeitherWaitsNorCrashes) {
  const auto start = Clock::now();
  EXPECT_FALSE(platform::WaitReceiveEvent(nullptr, 1000));
  EXPECT_LT(ElapsedMs(start), 500);
  platform::SignalReceiveEvent(nullptr);
  platform::CloseReceiveEvent(nullptr);
}

TEST(Clock, LocalTimeOfAKnownInstantIsConsistent) {
  std::tm local{};
  ASSERT_TRUE(platform::ToLocalTime(1567161373, &local));  // 2019-08-30 10:36:13 UTC
  EXPECT_EQ(local.tm_year, 119);
  EXPECT_EQ(local.tm_min, 36);
  EXPECT_EQ(local.tm_sec, 13);
  EXPECT_GT(platform::WallClockSeconds(), 1567161373);
}

TEST(ErrorText, NamesTheSystemReason) {
  EXPECT_NE(platform::ErrorText(2).find("No such file"), std::string::npos);
}

TEST(Files, SizeOfAnOpenFileFollowsItsGrowthAndSyncsSucceed) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("platform_test_files_" + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "grows.bin").string();
  std::FILE* writer = std::fopen(path.c_str(), "wb");
  ASSERT_NE(writer, nullptr);
  std::FILE* reader = std::fopen(path.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  uint64_t size = 99;
  EXPECT_TRUE(platform::OpenFileSize(reader, &size));
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(std::fwrite("abcdef", 1, 6, writer), 6u);
  ASSERT_EQ(std::fflush(writer), 0);
  EXPECT_TRUE(platform::SyncFile(writer));
  EXPECT_TRUE(platform::OpenFileSize(reader, &size));
  EXPECT_EQ(size, 6u);
  std::fclose(reader);
  std::fclose(writer);
  std::string error;
  EXPECT_TRUE(platform::SyncDirectoryFiles(dir.string(), &error)) << error;
  EXPECT_FALSE(platform::SyncDirectoryFiles((dir / "missing").string(), &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
