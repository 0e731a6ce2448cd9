// spi-capture against the receiver at work: the frame counter finds exactly
// the frames the bridge dropped, a follower of a live recording gives out
// exactly the capture as it is finally written, and the simulated frames'
// layout file decodes a recording to the documented numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "receiver_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace receiver_test;

// Bursts overflow the bridge's 65535-byte buffer on purpose. The frames are
// 4369 bytes, a divisor of 65535: the buffer then only ever holds whole
// frames, an overflow drops frames whole, every read is a whole number of
// frames, and frames follow each burst, so the counter sees every loss.
// (With 4096-byte frames the 16th frame of a burst would be stored cut
// short, in a record that does not split by the frame size.)
TEST(CaptureToolLive, CheckFindsExactlyTheFramesTheBridgeDropped) {
  constexpr size_t kFrame = 4369;
  std::string script = "source=script";
  size_t records = 0;
  size_t stored = 0;
  auto singles = [&](int count) {
    for (int i = 0; i < count; ++i) script += ";frame J " + std::to_string(kFrame);
    records += count;
    stored += count;
  };
  auto burst = [&](int count) {
    script += ";burst " + std::to_string(count);
    for (int i = 0; i < count; ++i) script += ";frame J " + std::to_string(kFrame);
    records += 1;
    stored += std::min(count, 15);
  };
  singles(10);
  burst(20);
  singles(10);
  burst(17);
  singles(3);
  burst(16);
  singles(5);

  ReceiverRun run = MakeRun(script, {"burst.bin"});
  SetEnv(&run.options, "SPI_SIM_STATS", run.dir + "/stats.txt");
  run.options.watchFile = run.dir + "/burst.bin";
  run.options.interruptAtFileSize = static_cast<int64_t>(stored * kFrame + records * 2);
  run.options.interruptAfterMs = 20000;  // in case it never gets there
  const RunResult recorded = RunProgram(run.options);
  ASSERT_EQ(recorded.exitCode, 1);
  ASSERT_EQ(fs::file_size(run.dir + "/burst.bin"), stored * kFrame + records * 2);
  const std::string stats = ReadText(run.dir + "/stats.txt");
  const uint64_t dropped = StatValue(stats, "frames_dropped");
  EXPECT_EQ(dropped, 5u + 2u + 1u);

  RunOptions check;
  check.program = SpiCapturePath();
  check.args = {"check", run.dir + "/burst.bin", "--counter", "1:8", "--frame-size", std::to_string(kFrame)};
  const RunResult checked = RunProgram(check);
  EXPECT_EQ(checked.exitCode, 1);
  EXPECT_NE(
      checked.out.find("frames " + std::to_string(stored) + ", missing " + std::to_string(dropped) + " ("),
      std::string::npos)
      << checked.out << checked.err;
  EXPECT_EQ(checked.err, "");
  fs::remove_all(run.dir);
}

// The follower starts when the capture appears and ends after a second
// without growth, once the master has sent its last frame; its output must
// be the capture byte for byte, whatever state of the file it saw on the
// way. The receiver is stopped only later: on Windows the stop request is a
// console event that would reach the follower too.
TEST(CaptureToolLive, FollowingALiveRecordingGivesOutTheFinalCapture) {
  ReceiverRun run = MakeRun("rate=20M;frame=1-9000;nonj=0.1;seed=3;frames=3000", {"live.bin"});
  run.options.interruptAfterMs = 5000;
  const std::string capture = run.dir + "/live.bin";
  RunResult recorded;
  std::thread receiver([&] { recorded = RunProgram(run.options); });
  const auto start = std::chrono::steady_clock::now();
  while (!fs::exists(capture) && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  RunOptions follow;
  follow.program = SpiCapturePath();
  follow.args = {"follow", capture, "--idle-exit", "1"};
  const RunResult followed = RunProgram(follow);
  receiver.join();
  EXPECT_EQ(recorded.exitCode, 1);
  EXPECT_EQ(followed.exitCode, 0) << followed.err;
  const std::vector<uint8_t> written = ReadBinaryFile(capture);
  EXPECT_GT(written.size(), 1000000u);
  EXPECT_TRUE(followed.out == std::string(written.begin(), written.end()))
      << "followed " << followed.out.size() << " bytes of " << written.size();
  fs::remove_all(run.dir);
}

// The simulated master's frames as docs/sim-frame.layout describes them:
// the CSV spi-capture exports through that file, worked out here from the
// documented formulas alone.
std::string SimulatedFrameRows(uint64_t frames) {
  std::string csv = "index,seq,check,t_us,length";
  for (const char* channel : {"a", "b"}) {
    for (int k = 0; k < 256; ++k) csv += std::string(",") + channel + "[" + std::to_string(k) + "]";
  }
  csv += "\n";
  for (uint64_t seq = 0; seq < frames; ++seq) {
    std::string a;
    std::string b;
    for (uint64_t k = 0; k < 256; ++k) {
      const int p = static_cast<int>((seq * 256 + k) % 200);
      a += "," + std::to_string(std::lround(1000.0 * std::sin(2 * 3.14159265358979323846 * p / 200.0)));
      b += "," + std::to_string(p < 100 ? -1000 + 20 * p : 1000 - 20 * (p - 100));
    }
    csv += std::to_string(seq) + "," + std::to_string(seq) + ",CHECK," +
           std::to_string((seq * 4096) % (uint64_t{1} << 32)) + ",4096" + a + b + "\n";
  }
  return csv;
}

// The checksum is the generator's own business: blank it out of each row.
std::string WithoutChecksums(const std::string& csv) {
  std::string out;
  size_t at = 0;
  while (at < csv.size()) {
    size_t end = csv.find('\n', at);
    if (end == std::string::npos) end = csv.size();
    std::string line = csv.substr(at, end - at);
    const size_t second = line.find(',', line.find(',') + 1);
    const size_t third = line.find(',', second + 1);
    if (at > 0 && third != std::string::npos) line.replace(second + 1, third - second - 1, "CHECK");
    out += line + "\n";
    at = end + 1;
  }
  return out;
}

TEST(CaptureToolLive, TheSimulatedFramesLayoutDecodesARecordingToItsWaveforms) {
  constexpr uint64_t kFrames = 300;
  ReceiverRun run = MakeRun("pacing=lockstep;nonj=0;frames=" + std::to_string(kFrames), {"sine.bin"});
  run.options.watchFile = run.dir + "/sine.bin";
  run.options.interruptAtFileSize = static_cast<int64_t>(kFrames * (4096 + 2));
  run.options.interruptAfterMs = 20000;  // in case it never gets there
  ASSERT_EQ(RunProgram(run.options).exitCode, 1);
  RunOptions decode;
  decode.program = SpiCapturePath();
  decode.args = {
      "export", run.dir + "/sine.bin", "--format", "csv", "--layout", SPI_SOURCE_DIR "/docs/sim-frame.layout",
      "-o",     run.dir + "/sine.csv"};
  const RunResult decoded = RunProgram(decode);
  EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_TRUE(WithoutChecksums(ReadText(run.dir + "/sine.csv")) == SimulatedFrameRows(kFrames))
      << ReadText(run.dir + "/sine.csv").substr(0, 400);
  fs::remove_all(run.dir);
}

}  // namespace
