#include "tool_args.h"

#include <gtest/gtest.h>

namespace {

TEST(ToolArgs, CountsUseTheFullUnsigned64BitRange) {
  uint64_t value = 7;
  EXPECT_TRUE(tool::ParseCount("18446744073709551615", &value));
  EXPECT_EQ(value, 18446744073709551615u);
  EXPECT_TRUE(tool::ParseCount("00000000000000000000000042", &value));
  EXPECT_EQ(value, 42u);
  value = 7;
  for (const char* bad :
       {"18446744073709551616", "99999999999999999999", "", "-1", "+1", "1e3", " 1", "0x10"}) {
    EXPECT_FALSE(tool::ParseCount(bad, &value)) << bad;
  }
  EXPECT_EQ(value, 7u);
}

TEST(ToolArgs, ShortOptionsTakeAttachedValuesAndDashIsAFile) {
  const std::vector<tool::OptionDef> known = {{"-o", true}, {"--from", true}, {"--hex", false}};
  tool::ParsedArgs parsed;
  std::string error;
  ASSERT_TRUE(tool::ParseArgs({"-", "-oout.bin", "--from=3", "--hex", "--", "-x"}, known, &parsed, &error))
      << error;
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"-", "-x"}));
  EXPECT_EQ(parsed.values.at("-o"), "out.bin");
  EXPECT_EQ(parsed.values.at("--from"), "3");

  parsed = tool::ParsedArgs();
  ASSERT_TRUE(tool::ParseArgs({"-o", "-"}, known, &parsed, &error));
  EXPECT_EQ(parsed.values.at("-o"), "-");

  parsed = tool::ParsedArgs();
  EXPECT_FALSE(tool::ParseArgs({"-hx"}, known, &parsed, &error));
  EXPECT_EQ(error, "unknown option '-hx'");
  EXPECT_FALSE(tool::ParseArgs({"-o"}, known, &parsed, &error));
  EXPECT_EQ(error, "option '-o' needs a value");
}

}  // namespace
