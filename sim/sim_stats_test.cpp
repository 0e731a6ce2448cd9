// The call log, the stats file and the environment-style set-up.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "call_log.h"
#include "sim_test_support.h"

namespace {

using simtest::BridgeTest;

// The simulator keeps its call log open until it is reset, and Windows
// cannot delete an open file: the files a test names go after the reset.
class SimFilesTest : public BridgeTest {
 protected:
  void TearDown() override {
    BridgeTest::TearDown();
    for (const std::string& path : paths_) std::remove(path.c_str());
  }

  std::string TempPath(const std::string& name) {
    paths_.push_back(::testing::TempDir() + "sim_" + std::to_string(::getpid()) + "_" + name);
    return paths_.back();
  }

 private:
  std::vector<std::string> paths_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST_F(SimFilesTest, CallLogShowsEveryCallWithArgumentsStatusAndOutValues) {
  SimSetup setup;
  setup.scenarioText = "source=script;frame J 7;fail=FT4222_SPISlave_Read:4@1";
  setup.logPath = TempPath("calls.log");
  std::string error;
  ASSERT_TRUE(SimConfigureSetup(setup, &error)) << error;
  OpenLikeReceiver();
  uint32_t flags = 0;
  char serial[kSerialNumberSize] = {};
  char description[kDescriptionSize] = {};
  FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, serial, description, nullptr);
  uint8_t buffer[7];
  uint16_t delivered = 0;
  FT4222_SPISlave_Read(handle_, buffer, 7, &delivered);
  ReadPending();
  CloseLikeReceiver();
  EXPECT_EQ(ReadFile(setup.logPath),
            "FT_CreateDeviceInfoList -> 0 count=2\n"
            "FT_Open index=0 -> 0 handle=1\n"
            "FT4222_SetClock handle=1 clock=3 -> 0\n"
            "FT_SetTimeouts handle=1 read=1000 write=1000 -> 0\n"
            "FT_SetLatencyTimer handle=1 latency=1 -> 0\n"
            "FT_SetUSBParameters handle=1 in=4096 out=0 -> 0\n"
            "FT4222_SPISlave_Init handle=1 -> 0\n"
            "FT4222_SPI_SetDrivingStrength handle=1 clk=0 io=0 sso=0 -> 0\n"
            "FT4222_SetEventNotification handle=1 mask=8 param=set -> 0\n"
            "FT_GetDeviceInfoDetail index=0 -> 0 flags=1 serial=\"A0000001\" description=\"FT4222 A\"\n"
            "FT4222_SPISlave_Read handle=1 size=7 -> 4 injected\n"
            "FT4222_SPISlave_GetRxStatus handle=1 -> 0 pending=7\n"
            "FT4222_SPISlave_Read handle=1 size=7 -> 0 read=7\n"
            "FT4222_UnInitialize handle=1 -> 0\n"
            "FT_Close handle=1 -> 0\n");
}

TEST_F(SimFilesTest, StatsFileIsRewrittenAtUnInitializeAndClose) {
  SimSetup setup;
  setup.scenarioText = "source=script;frame J 10;frame X 20";
  setup.statsPath = TempPath("stats.txt");
  std::string error;
  ASSERT_TRUE(SimConfigureSetup(setup, &error)) << error;
  OpenLikeReceiver();
  ReadPending();
  ReadPending();
  ASSERT_EQ(FT4222_UnInitialize(handle_), FT4222_OK);
  const std::string stats = ReadFile(setup.statsPath);
  for (const char* line : {"config=ok\n", "frames_generated=2\n", "j_frames=1\n", "nonj_frames=1\n",
                           "bytes_generated=30\n", "bytes_dropped=0\n", "frames_dropped=0\n", "reads=2\n",
                           "bytes_read=30\n", "short_reads=0\n", "failed_calls=0\n"}) {
    EXPECT_NE(stats.find(line), std::string::npos) << line << " in\n" << stats;
  }
  std::remove(setup.statsPath.c_str());
  ASSERT_EQ(FT_Close(handle_), FT_OK);
  EXPECT_NE(ReadFile(setup.statsPath).find("calls="), std::string::npos);
}

TEST_F(SimFilesTest, InvalidScenarioGoesToStatsAndLogNotTheConsole) {
  SimSetup setup;
  setup.scenarioPath = TempPath("bad.scenario");
  setup.logPath = TempPath("bad.log");
  setup.statsPath = TempPath("bad.stats");
  WriteFile(setup.scenarioPath, "# comment\nseed=3\nrate=slow\n");
  std::string error;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(SimConfigureSetup(setup, &error));
  uint32_t count = 5;
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const std::string where = setup.scenarioPath + ":3: rate:";
  EXPECT_NE(error.find(where), std::string::npos) << error;
  EXPECT_NE(ReadFile(setup.statsPath).find("config=error\nconfig_error=" + where), std::string::npos);
  EXPECT_EQ(ReadFile(setup.logPath).find("config_error message=\"" + where), 0u);

  setup.scenarioPath = TempPath("missing.scenario");
  EXPECT_FALSE(SimConfigureSetup(setup, &error));
  EXPECT_NE(error.find("cannot read scenario file"), std::string::npos);
}

TEST_F(SimFilesTest, InlineItemsOverrideTheScenarioFile) {
  SimSetup setup;
  setup.scenarioPath = TempPath("good.scenario");
  WriteFile(setup.scenarioPath, "devices=A1,B1,A2\nsource=script\nframe J 5\n");
  setup.scenarioText = "devices=A9";
  std::string error;
  ASSERT_TRUE(SimConfigureSetup(setup, &error)) << error;
  uint32_t count = 0;
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 1u);
}

}  // namespace

namespace {

// The receiver may call exit() from its interrupt thread while the main
// thread is inside a bridge call and the receive thread is sending: the
// process must end cleanly and the stats must still be written.
TEST_F(BridgeTest, ExitFromAnotherThreadDuringACallEndsCleanlyAndWritesStats) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Not TempPath: the threadsafe death test runs this body again in a child
  // process, which has another pid.
  const std::string statsPath = ::testing::TempDir() + "sim_exit_test.stats";
  EXPECT_EXIT(
      {
        std::remove(statsPath.c_str());
        SimSetup setup;
        setup.scenarioText = "rate=10M;frame=1000;delay=FT4222_SPISlave_GetRxStatus:5";
        setup.statsPath = statsPath;
        std::string error;
        if (!SimConfigureSetup(setup, &error)) std::_Exit(2);
        FT_HANDLE handle = nullptr;
        FT_Open(0, &handle);
        FT4222_SPISlave_Init(handle);
        platform::EventHandle event = platform::CreateReceiveEvent();
        FT4222_SetEventNotification(handle, FT4222_EVENT_RXCHAR, event);
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(30));
          std::exit(1);
        }).detach();
        for (;;) {
          uint16_t pending = 0;
          FT4222_SPISlave_GetRxStatus(handle, &pending);
          std::vector<uint8_t> buffer(pending);
          uint16_t delivered = 0;
          FT4222_SPISlave_Read(handle, buffer.data(), pending, &delivered);
        }
      },
      ::testing::ExitedWithCode(1), "");
  const std::string stats = ReadFile(statsPath);
  EXPECT_NE(stats.find("config=ok"), std::string::npos) << stats;
  EXPECT_NE(stats.find("reads="), std::string::npos) << stats;
  std::remove(statsPath.c_str());
}

// The same exit, seen from the call log: exit() flushes streams without their
// locks, so a line still buffered while another thread logs would appear
// twice, and a test counting failed calls in the log would count one more.
TEST(CallLog, ExitWhileAnotherThreadLogsWritesEachLineOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string logPath = ::testing::TempDir() + "sim_exit_test.log";
  for (int round = 0; round < 5; ++round) {
    EXPECT_EXIT(
        {
          sim::CallLog log;
          if (!sim::OpenCallLog(logPath, &log)) std::_Exit(2);
          std::atomic<int> written{0};
          std::thread([&] {
            for (int n = 0;; ++n) {
              sim::WriteCallLogLine(&log, "call " + std::to_string(n));
              written = n + 1;
            }
          }).detach();
          while (written < 2000) std::this_thread::yield();
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::istringstream lines(ReadFile(logPath));
    std::string line;
    int expected = 0;
    while (std::getline(lines, line) && lines.good()) {  // the last line may be cut short
      ASSERT_EQ(line, "call " + std::to_string(expected)) << "round " << round;
      ++expected;
    }
    EXPECT_GE(expected, 2000);
  }
  std::remove(logPath.c_str());
}

}  // namespace
