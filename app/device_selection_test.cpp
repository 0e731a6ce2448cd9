#include "device_selection.h"

#include <gtest/gtest.h>

#include <string>

#include "sim_control.h"

namespace {

TEST(FindInterfaceA, TakesTheLowestIndexWhoseSerialBeginsWithUpperCaseA) {
  struct Case {
    const char* devices;
    int32_t expected;
  };
  const Case cases[] = {
      {"A0000001,B0000001", 0},
      {"B0000001,A0000001", 1},
      {"A1,B1,A2", 0},
      {"!A1,A2", 1},           // a failing detail query skips its index
      {"a1,A2", 1},            // lower case is not interface A
      {"-,A9", 1},             // an empty serial is never chosen
      {"ABC123,A0000001", 0},  // any device whose serial begins with A
      {"B1,a1,-", -1},
      {"!A1", -1},
      {"", -1},  // nothing attached
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices);
    std::string error;
    ASSERT_TRUE(SimConfigure(std::string("source=none;devices=") + c.devices, &error)) << error;
    EXPECT_EQ(FindInterfaceA(), c.expected);
  }
}

TEST(FindInterfaceA, AFailingDeviceListMeansNoDevices) {
  std::string error;
  ASSERT_TRUE(SimConfigure("source=none;devices=A1;fail=FT_CreateDeviceInfoList:4", &error)) << error;
  EXPECT_EQ(FindInterfaceA(), -1);
}

}  // namespace
