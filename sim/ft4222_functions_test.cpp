// SPI-slave set-up rules, the receive event and the read path, driven by
// scripted traffic so every case repeats exactly.
#include <chrono>

#include "generated_frame.h"
#include "sim_status.h"
#include "sim_test_support.h"

namespace {

using simtest::BridgeTest;

TEST_F(BridgeTest, SpiCallsNeedSlaveModeFirst) {
  Configure("source=script;frame J 10");
  ASSERT_EQ(FT_Open(0, &handle_), FT_OK);
  event_ = platform::CreateReceiveEvent();
  uint8_t buffer[16];
  uint16_t size = 0xBEEF;
  EXPECT_EQ(FT4222_SPI_SetDrivingStrength(handle_, 0, 0, 0), sim::kNotInSpiMode);
  EXPECT_EQ(FT4222_SetEventNotification(handle_, FT4222_EVENT_RXCHAR, event_), sim::kNotInSpiMode);
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &size), sim::kNotInSpiMode);
  EXPECT_EQ(FT4222_SPISlave_Read(handle_, buffer, 16, &size), sim::kNotInSpiMode);
  EXPECT_EQ(size, 0xBEEF);

  ASSERT_EQ(FT4222_SPISlave_Init(handle_), FT4222_OK);
  EXPECT_EQ(FT4222_SPI_SetDrivingStrength(handle_, 0, 0, 0), FT4222_OK);
  EXPECT_EQ(FT4222_SPI_SetDrivingStrength(handle_, 0, 4, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT4222_SetEventNotification(handle_, FT4222_EVENT_RXCHAR, nullptr), sim::kInvalidPointer);
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, nullptr), sim::kInvalidPointer);
  EXPECT_EQ(FT4222_SPISlave_Read(handle_, buffer, 16, nullptr), sim::kInvalidPointer);
  EXPECT_EQ(Pending(), 0);  // nothing arrives before the event is set up
  ASSERT_EQ(FT4222_SetEventNotification(handle_, FT4222_EVENT_RXCHAR, event_), FT4222_OK);
  EXPECT_EQ(Pending(), 10);

  // UnInitialize leaves slave mode.
  ASSERT_EQ(FT4222_UnInitialize(handle_), FT4222_OK);
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &size), sim::kNotInSpiMode);
  EXPECT_EQ(FT_Close(handle_), FT_OK);
}

TEST_F(BridgeTest, EventIsSignalledWhenDataArrives) {
  Configure("source=script;frame J 100;gap 30;frame J 200");
  OpenLikeReceiver();
  EXPECT_TRUE(platform::WaitReceiveEvent(event_, 5000));
  EXPECT_EQ(ReadPending().size(), 100u);
  // The second frame comes from the receive thread after the gap.
  EXPECT_TRUE(platform::WaitReceiveEvent(event_, 5000));
  EXPECT_EQ(ReadPending().size(), 200u);
  EXPECT_GE(simtest::Stat("events_signalled"), 2);
  CloseLikeReceiver();
}

TEST_F(BridgeTest, ScriptedFramesWaitUntilThePreviousOneIsRead) {
  Configure("source=script\nframe 4A 01 02\nframe X 20\nframe J 65535\n");
  OpenLikeReceiver();
  EXPECT_EQ(ReadPending(), (std::vector<uint8_t>{0x4A, 0x01, 0x02}));

  // A partial read leaves the rest pending and holds the next frame back.
  ASSERT_EQ(Pending(), 20);
  uint8_t part[8];
  uint16_t delivered = 0;
  ASSERT_EQ(FT4222_SPISlave_Read(handle_, part, 8, &delivered), FT4222_OK);
  EXPECT_EQ(delivered, 8);
  EXPECT_EQ(part[0], 'X');
  EXPECT_EQ(Pending(), 12);
  // Asking for more than is pending returns just what is pending.
  uint8_t rest[100];
  ASSERT_EQ(FT4222_SPISlave_Read(handle_, rest, 100, &delivered), FT4222_OK);
  EXPECT_EQ(delivered, 12);

  const std::vector<uint8_t> big = ReadPending();
  ASSERT_EQ(big.size(), 65535u);
  uint64_t seq = 0;
  EXPECT_EQ(sim::CheckGeneratedFrame(big.data(), big.size(), &seq), sim::FrameCheck::kIntact);
  EXPECT_EQ(seq, 2u);       // its place among the script's frames
  EXPECT_EQ(Pending(), 0);  // the script has ended
  EXPECT_EQ(simtest::Stat("short_reads"), 1);
  CloseLikeReceiver();
}

TEST_F(BridgeTest, ScriptBurstsCoalesceAndRepeat) {
  Configure("source=script;after=repeat;frame J 10;burst 3;frame J 20;frame J 30;frame J 40");
  OpenLikeReceiver();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ReadPending().size(), 10u);
    EXPECT_EQ(ReadPending().size(), 90u);  // the three burst frames in one read
  }
  CloseLikeReceiver();
}

TEST_F(BridgeTest, ScriptFaultLinesHitTheNextCall) {
  Configure(
      "source=script\n"
      "fail FT_Open 3\n"  // armed before anything runs
      "frame J 10\n"
      "fail FT4222_SPISlave_Read 4\n"
      "short 3\n"
      "frame J 10\n");
  FT_HANDLE refused = nullptr;
  EXPECT_EQ(FT_Open(0, &refused), FT_DEVICE_NOT_OPENED);
  OpenLikeReceiver();
  EXPECT_EQ(ReadPending().size(), 10u);
  ASSERT_EQ(Pending(), 10);
  uint8_t buffer[10];
  uint16_t delivered = 0xBEEF;
  EXPECT_EQ(FT4222_SPISlave_Read(handle_, buffer, 10, &delivered), 4u);
  EXPECT_EQ(delivered, 0xBEEF);  // a failed read leaves everything as it was
  EXPECT_EQ(Pending(), 10);
  EXPECT_EQ(FT4222_SPISlave_Read(handle_, buffer, 10, &delivered), FT4222_OK);
  EXPECT_EQ(delivered, 3);
  EXPECT_EQ(Pending(), 7);
  CloseLikeReceiver();
}

TEST_F(BridgeTest, FailRulesFromTheScenario) {
  Configure(
      "source=script;frame J 5;frame J 5;frame J 5\n"
      "fail=FT_SetLatencyTimer:4\n"
      "fail=FT4222_SPISlave_GetRxStatus:7@2\n"
      "fail=FT4222_SPISlave_Read:4%1\n");
  ASSERT_EQ(FT_Open(0, &handle_), FT_OK);
  EXPECT_EQ(FT_SetLatencyTimer(handle_, 1), 4u);
  EXPECT_EQ(FT_SetLatencyTimer(handle_, 1), 4u);
  ASSERT_EQ(FT4222_SPISlave_Init(handle_), FT4222_OK);
  event_ = platform::CreateReceiveEvent();
  ASSERT_EQ(FT4222_SetEventNotification(handle_, FT4222_EVENT_RXCHAR, event_), FT4222_OK);
  uint16_t pending = 0xBEEF;
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &pending), FT4222_OK);
  EXPECT_EQ(pending, 5);
  pending = 0xBEEF;
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &pending), 7u);
  EXPECT_EQ(pending, 0xBEEF);  // a failing status query leaves the out-value alone
  EXPECT_EQ(FT4222_SPISlave_GetRxStatus(handle_, &pending), FT4222_OK);
  uint8_t buffer[5];
  uint16_t delivered = 0;
  EXPECT_EQ(FT4222_SPISlave_Read(handle_, buffer, 5, &delivered), 4u);
  EXPECT_EQ(simtest::Stat("injected_failures"), 4);
  EXPECT_EQ(simtest::Stat("failed_calls"), 4);
  CloseLikeReceiver();
}

TEST_F(BridgeTest, DelayHoldsTheCallUp) {
  Configure("delay=FT_CreateDeviceInfoList:60");
  uint32_t count = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(simtest::Stat("delayed_calls"), 1);
}

TEST_F(BridgeTest, ShortReadsLeaveTheRestPending) {
  Configure("source=script;short_read=1;frame J 1000");
  OpenLikeReceiver();
  size_t total = 0;
  int reads = 0;
  std::vector<uint8_t> frame;
  while (Pending() > 0) {
    const std::vector<uint8_t> piece = ReadPending();
    frame.insert(frame.end(), piece.begin(), piece.end());
    ++reads;
    total += piece.size();
    ASSERT_LT(reads, 1000);
  }
  EXPECT_EQ(total, 1000u);
  EXPECT_GT(reads, 1);
  uint64_t seq = 0;
  EXPECT_EQ(sim::CheckGeneratedFrame(frame.data(), frame.size(), &seq), sim::FrameCheck::kIntact);
  CloseLikeReceiver();
}

}  // namespace
