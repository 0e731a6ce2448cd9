// The receiver as a user meets it: console text, exit status and capture
// file, run as a process against the simulated bridge.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;
using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& frame) {
  std::string text = "frame";
  char byte[4];
  for (uint8_t b : frame) {
    std::snprintf(byte, sizeof byte, " %02X", b);
    text += byte;
  }
  return text;
}

Bytes Pattern(size_t n, uint8_t first, uint8_t second) {
  Bytes frame(n);
  for (size_t i = 0; i < n; ++i) frame[i] = static_cast<uint8_t>((i * 131 + 7) >> 1);
  frame[0] = first;
  frame[1] = second;
  return frame;
}

TEST(Receiver, WithoutABridgeSaysSoPausesFiveSecondsAndExits1) {
  ReceiverRun run = MakeRun("devices=");
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, ConsoleText(Banner() + "Open a FT4222 device failed!..\n"
                                               "Check the USB connection......\n"
                                               "Program will quit in 5 sec....\n"));
  EXPECT_EQ(result.err, "");
  EXPECT_GE(result.seconds, 4.9);
  EXPECT_FALSE(fs::exists(run.dir + "/capture.bin"));
}

// Each set-up step that fails prints its own line and ends with status 1
// (not 0: a failure must never look like success), before any capture file.
TEST(Receiver, EachFailingSetUpStepPrintsItsLineAndExits1) {
  struct Case {
    const char* function;
    std::string line;
  };
  const Case cases[] = {
      {"FT_Open", "Open a FT4222 device failed!\n"},
      {"FT4222_SetClock", "FT4222_SetClock failed!\n"},
      {"FT_SetTimeouts", "FT_SetTimeouts failed!\n"},
      {"FT_SetLatencyTimer", "FT_SetLatencyTimerfailed!\n"},
      {"FT_SetUSBParameters", "FT_SetUSBParameters failed!\n"},
      {"FT4222_SPISlave_Init", "Init FT4222 as SPI slave device failed!\n"},
      {"FT4222_SPI_SetDrivingStrength", "FT4222_SPI_SetDrivingStrength failed!\n"},
      {"FT4222_SetEventNotification", "set event notification failed! ft4222_status = 5\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    ReceiverRun run = MakeRun(std::string("fail=") + c.function + ":5");
    const RunResult result = RunProgram(run.options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, ConsoleText(HeaderFor("capture.bin") + c.line));
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(fs::exists(run.dir + "/capture.bin"));
    // Nothing runs after the failing step.
    const std::string log = ReadText(run.dir + "/calls.log");
    const size_t last = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.compare(last + 1, std::string(c.function).size() + 1, std::string(c.function) + " "), 0)
        << log;
  }
}

TEST(Receiver, ConfiguresTheBridgeWithItsFixedSettingsInOrder) {
  ReceiverRun run = MakeRun("devices=B1,A1;source=none");
  run.options.interruptOnOutput = ConsoleText(kRecordingStarts);
  const RunResult result = RunProgram(run.options);
  ASSERT_EQ(result.exitCode, 1);
  const std::string log = ReadText(run.dir + "/calls.log");
  const std::regex expected(
      "FT_CreateDeviceInfoList -> 0 count=2\n"
      "FT_GetDeviceInfoDetail index=0 -> 0 .*serial=\"B1\".*\n"
      "FT_GetDeviceInfoDetail index=1 -> 0 .*serial=\"A1\".*\n"
      "FT_Open index=1 -> 0 handle=(\\w+)\n"
      "FT4222_SetClock handle=\\1 clock=3 -> 0\n"
      "FT_SetTimeouts handle=\\1 read=1000 write=1000 -> 0\n"
      "FT_SetLatencyTimer handle=\\1 latency=1 -> 0\n"
      "FT_SetUSBParameters handle=\\1 in=4096 out=0 -> 0\n"
      "FT4222_SPISlave_Init handle=\\1 -> 0\n"
      "FT4222_SPI_SetDrivingStrength handle=\\1 clk=0 io=0 sso=0 -> 0\n"
      "FT4222_SetEventNotification handle=\\1 mask=8 param=set -> 0\n"
      "[^]*");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(Receiver, NamesTheCaptureAfterTheLocalTimeWithoutAnArgument) {
  ReceiverRun run = MakeRun("source=script;frame 4A 00;frame 5A", {});
  run.options.interruptOnOutput = ConsoleText("--------------------------------0\n");
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(
      result.out, match,
      std::regex(ConsoleText("saved to file: (ornix_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.bin)\n"))))
      << result.out;
  EXPECT_EQ(ReadBinaryFile(run.dir + "/" + std::string(match[1])), (Bytes{0x4A, 0x00, 0x02, 0x00}));
}

TEST(Receiver, OnlyTheFirstArgumentNamesTheFileAndAnExistingOneIsEmptied) {
  ReceiverRun run = MakeRun("source=script;frame 4A 01 02;frame 5A", {"run1", "run2"});
  {
    std::ofstream old(run.dir + "/run1");
    old << "an older recording that must not survive";
  }
  run.options.interruptOnOutput = ConsoleText("--------------------------------0\n");
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find(ConsoleText("saved to file: run1\n")), std::string::npos);
  EXPECT_EQ(ReadBinaryFile(run.dir + "/run1"), (Bytes{0x4A, 0x01, 0x03, 0x00, 0x02}));
  EXPECT_FALSE(fs::exists(run.dir + "/run2"));
}

// A name outside the system's code page is printed and created exactly as
// given (on Windows the command line is read as UTF-16 for it).
TEST(Receiver, ANameInAnyScriptIsPrintedAndCreatedAsGiven) {
  const std::string name =
      "donn\xC3\xA9"
      "es_\xE6\xB8\xAC\xE5\xAE\x9A.bin";
  ReceiverRun run = MakeRun("source=script;frame 4A 01 02;frame 5A", {name});
  run.options.interruptOnOutput = ConsoleText("--------------------------------0\n");
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find(ConsoleText("Recevied data will be saved to file: " + name + "\n")),
            std::string::npos)
      << result.out;
  EXPECT_EQ(ReadBinaryFile(run.dir + "/" + name), (Bytes{0x4A, 0x01, 0x03, 0x00, 0x02}));
}

// A recording of every kind of frame and read outcome, byte for byte: the
// file holds exactly the J frames' records; the console shows exactly the
// texts for the others.
TEST(Receiver, RecordsJFramesAndReportsEverythingElseExactly) {
  const Bytes two = {0x4A, 0x00};
  const Bytes controlBytes = {0x4A, 0x0A, 0x0D, 0x0A, 0x1A, 0x00, 0x0A};
  const Bytes f300 = Pattern(300, 'J', 0x58);
  const Bytes f512 = Pattern(512, 'J', 0x58);
  const Bytes other512 = Pattern(512, 0x58, 'J');
  const Bytes biggest = Pattern(65535, 'J', 0xFF);
  const Bytes torn = {0x4A, 0x01, 0x02, 0x4A, 0x05, 0x06, 0x07};
  const Bytes tornRest = {0x4A, 0x05, 0x06, 0x07};  // what a 3-byte short read leaves pending
  const Bytes afterFailure = Pattern(20, 'J', 0x02);
  const std::string scenario = "source=script\n" + Hex(two) + "\n" + Hex({0x58, 0x01, 0x02}) + "\n" +
                               Hex(f300) + "\n" + Hex(controlBytes) + "\n" + Hex(other512) + "\n" +
                               Hex(f512) + "\n" + Hex(biggest) + "\n" + Hex({0x4A}) + "\n" + "short 3\n" +
                               Hex(torn) + "\n" + "fail FT4222_SPISlave_Read 4\n" + Hex(afterFailure) + "\n" +
                               Hex({0x5A, 0x5A}) + "\n";
  ReceiverRun run = MakeRun("");
  const std::string scenarioPath = run.dir + "/scenario.txt";
  std::ofstream(scenarioPath) << scenario;
  SetEnv(&run.options, "SPI_SIM_SCENARIO", scenarioPath);
  run.options.interruptOnOutput = ConsoleText("--------------------------------2\n");
  const RunResult result = RunProgram(run.options);

  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(WithoutStatusLines(result.out), ConsoleText(HeaderFor("capture.bin") + kRecordingStarts +
                                                        "--------------------------------0\n"
                                                        "--------------------------------1\n"
                                                        "Dropped a 1-byte J frame: too short to store\n"
                                                        "FT4222_SPISlave_Read error ft4222_status=0\n"
                                                        "FT4222_SPISlave_Read error ft4222_status=4\n"
                                                        "--------------------------------2\n" +
                                                        kClosingText));
  // The file is binary on every platform: no LF, CR LF or Ctrl+Z is touched.
  EXPECT_EQ(ReadBinaryFile(run.dir + "/capture.bin"),
            RecordsOf({two, f300, controlBytes, f512, biggest, tornRest, afterFailure}));
}

TEST(Receiver, StatusLinesShowKilobytesSinceTheLastReportAndTheFileSize) {
  // 1024-byte frames; the last one is not stored, so the file holds 3 records.
  const Bytes j = Pattern(1024, 'J', 1);
  const Bytes other = Pattern(1024, 'X', 1);
  ReceiverRun run = MakeRun("source=script;" + Hex(j) + ";" + Hex(j) + ";" + Hex(j) + ";" + Hex(other));
  // Idle passes each last a full second and report 0 bytes: look at a few.
  run.options.interruptAfterMs = 3500;
  const RunResult result = RunProgram(run.options);
  ASSERT_EQ(result.exitCode, 1);
  const std::vector<std::string> lines = StatusLines(result.out);
  ASSERT_GE(lines.size(), 3u) << result.out;
  const std::regex format("Transfer Speed, (\\d+\\.\\d\\d) KBytes/S        File size, (-?\\d+\\.\\d\\d) MB ");
  double totalKiB = 0;
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, format)) << line;
    totalKiB += std::stod(match[1]);
  }
  EXPECT_DOUBLE_EQ(totalKiB, 4.0);  // every pending byte counted once, stored or not
  EXPECT_EQ(lines.back(), "Transfer Speed, 0.00 KBytes/S        File size, 0.00 MB ");
  EXPECT_EQ(fs::file_size(run.dir + "/capture.bin"), 3u * 1026u);
}

// A status query that fails must not feed the meter the previous pass's
// count again: those bytes never arrived.
TEST(Receiver, AFailedStatusQueryAddsNothingToTheSpeed) {
  const Bytes j = Pattern(1024, 'J', 1);
  ReceiverRun run =
      MakeRun("source=script;" + Hex(j) + ";fail FT4222_SPISlave_GetRxStatus 7;" + Hex({0x5A, 0x00}));
  run.options.interruptAfterMs = 3500;
  const RunResult result = RunProgram(run.options);
  ASSERT_EQ(result.exitCode, 1);
  const std::string log = ReadText(run.dir + "/calls.log");
  ASSERT_NE(log.find("FT4222_SPISlave_GetRxStatus handle=1 -> 7"), std::string::npos) << log;
  double totalKiB = 0;
  for (const std::string& line : StatusLines(result.out)) totalKiB += std::stod(line.substr(16));
  EXPECT_LT(totalKiB, 1.5) << result.out;
  EXPECT_EQ(WithoutStatusLines(result.out),
            ConsoleText(HeaderFor("capture.bin") + kRecordingStarts + "--------------------------------0\n" +
                        kClosingText));
}

TEST(Receiver, RecordsTheDefaultSimulatedStreamUntilCtrlC) {
  ReceiverRun run = MakeRun("");  // the simulator's own default
  run.options.interruptAfterMs = 2500;
  const RunResult result = RunProgram(run.options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  const std::string closing = ConsoleText(kClosingText);
  EXPECT_EQ(result.out.rfind(closing), result.out.size() - closing.size());
  EXPECT_GE(StatusLines(result.out).size(), 2u);
  std::vector<Bytes> frames;
  std::string error;
  ASSERT_TRUE(ReadCaptureFrames(run.dir + "/capture.bin", &frames, &error)) << error;
  EXPECT_GT(frames.size(), 100u);
}

}  // namespace
