#include "receive_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "capture_buffer.h"
#include "capture_encoder.h"
#include "capture_writer.h"
#include "device_setup.h"
#include "generated_frame.h"
#include "interrupt.h"
#include "libft4222.h"
#include "sim_control.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs the loop against the simulated bridge playing scenario until the
// capture holds expectedSize bytes (5 s at most), then stops it as a stop
// request does, and returns the capture's bytes. withEvent: whether the loop
// is handed the receive event the set-up created, or none.
std::vector<uint8_t> RecordUntil(const std::string& scenario, uintmax_t expectedSize, bool withEvent) {
  std::string error;
  EXPECT_TRUE(SimConfigure(scenario, &error)) << error;
  const fs::path path =
      fs::temp_directory_path() / ("receive_loop_test_" + std::to_string(getpid()) + ".bin");
  capture::CaptureFile file;
  EXPECT_EQ(capture::OpenCaptureFile(file, path.string(), &error), platform::RecordingOpen::kOpened) << error;
  FT_HANDLE handle = nullptr;
  platform::EventHandle event = nullptr;
  EXPECT_TRUE(SetUpDevice(0, &handle, &event));

  CaptureBuffer buffer;
  StartCaptureWriter(buffer, file);
  std::thread stopper([&] {
    for (int i = 0; i < 500 && fs::file_size(path) < expectedSize; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    g_running = 0;
    if (withEvent) platform::SignalReceiveEvent(event);
  });
  RunReceiveLoop(handle, withEvent ? event : nullptr, buffer);
  stopper.join();
  g_running = 1;
  EXPECT_FALSE(FinishCaptureWriter(buffer, std::chrono::steady_clock::time_point::max()).failed);
  FreeCaptureBuffer(buffer);
  capture::CloseCaptureFile(file);
  const std::vector<uint8_t> bytes = ReadFile(path.string());

  EXPECT_TRUE(SimConfigure("source=none", &error)) << error;
  platform::CloseReceiveEvent(event);
  fs::remove(path);
  return bytes;
}

// The loop reads every frame into one buffer; each record must hold exactly
// that pass's frame, whatever longer frame came before it.
TEST(ReceiveLoop, EachRecordHoldsExactlyItsOwnFrameWhateverCameBefore) {
  const std::vector<uint32_t> lengths = {65535, 2, 40, 4096, 13, 65535, 3};
  std::string scenario = "source=script";
  for (uint32_t n : lengths) scenario += ";frame J " + std::to_string(n);
  scenario += ";frame X 500;frame J 700";  // a non-J frame is not stored

  // Frames are script frames 0..n-1, laid out like generator frames of seed 1.
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(sim::FrameShape{}, &generator);
  std::vector<uint8_t> expected;
  std::string error;
  const std::vector<uint32_t> stored = {65535, 2, 40, 4096, 13, 65535, 3, 700};
  for (size_t seq = 0; seq < stored.size(); ++seq) {
    std::vector<uint8_t> frame(stored[seq]);
    sim::WriteFrame(generator, seq < lengths.size() ? seq : seq + 1, 'J', stored[seq], frame.data());
    ASSERT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &expected, &error)) << error;
  }
  EXPECT_EQ(RecordUntil(scenario, expected.size(), true), expected);
}

// Should the receive event not be created, a library that accepts none
// leaves every wait returning at once (platform_test): the loop must then
// poll, and still store every frame. (The simulated bridge refuses a null
// event, so the set-up gets a real one and the loop is handed none.)
TEST(ReceiveLoop, WithoutAnEventItPollsAndStillStoresEveryFrame) {
  const uintmax_t expectedSize = 10 + 20 + 30 + 3 * 2;
  EXPECT_EQ(
      RecordUntil("source=script;frame J 10;gap 50;frame J 20;gap 50;frame J 30", expectedSize, false).size(),
      expectedSize);
}

}  // namespace
