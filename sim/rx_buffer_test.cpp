#include "rx_buffer.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<uint8_t> Counting(size_t size, uint8_t first) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST(RxBuffer, KeepsOrderAcrossTheWrapAndDropsWhatDoesNotFit) {
  sim::RxBuffer buffer;
  sim::InitRxBuffer(&buffer);
  const std::vector<uint8_t> big = Counting(60000, 0);
  ASSERT_EQ(sim::RxPush(&buffer, big.data(), big.size()), 60000u);
  std::vector<uint8_t> out(65535);
  ASSERT_EQ(sim::RxPop(&buffer, out.data(), 50000), 50000u);
  // 10000 pending; the next 20000 bytes wrap around the end of the ring.
  const std::vector<uint8_t> more = Counting(20000, 7);
  ASSERT_EQ(sim::RxPush(&buffer, more.data(), more.size()), 20000u);
  EXPECT_EQ(buffer.size, 30000u);
  ASSERT_EQ(sim::RxPop(&buffer, out.data(), 65535), 30000u);
  EXPECT_TRUE(std::equal(big.begin() + 50000, big.end(), out.begin()));
  EXPECT_TRUE(std::equal(more.begin(), more.end(), out.begin() + 10000));

  // A full buffer takes what fits and reports it.
  const std::vector<uint8_t> huge = Counting(70000, 1);
  EXPECT_EQ(sim::RxPush(&buffer, huge.data(), huge.size()), sim::kRxCapacity);
  EXPECT_EQ(sim::RxPush(&buffer, huge.data(), 1), 0u);
  EXPECT_EQ(sim::RxFree(buffer), 0u);
}

TEST(RxBuffer, FillsInPlaceOnlyWhenEmpty) {
  sim::RxBuffer buffer;
  sim::InitRxBuffer(&buffer);
  const uint8_t one = 1;
  sim::RxPush(&buffer, &one, 1);
  EXPECT_EQ(sim::RxFillEmpty(&buffer, 10), nullptr);
  uint8_t out = 0;
  sim::RxPop(&buffer, &out, 1);
  uint8_t* place = sim::RxFillEmpty(&buffer, 3);
  ASSERT_NE(place, nullptr);
  place[0] = 'a';
  place[1] = 'b';
  place[2] = 'c';
  char text[3] = {};
  EXPECT_EQ(sim::RxPop(&buffer, reinterpret_cast<uint8_t*>(text), 3), 3u);
  EXPECT_EQ(std::string(text, 3), "abc");
}

}  // namespace
