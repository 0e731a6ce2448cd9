#include "tool_args.h"

#include <gtest/gtest.h>

namespace {

TEST(ToolArgs, CountsUseTheFullUnsigned64BitRangeAndABadOneChangesNothing) {
  tool::ParsedArgs parsed;
  parsed.values = {{"--count", "18446744073709551615"}, {"--from", "1x"}};
  uint64_t count = 7;
  EXPECT_TRUE(tool::CountOption(parsed, "dump", "--count", &count));
  EXPECT_EQ(count, 18446744073709551615u);
  uint64_t from = 7;
  EXPECT_FALSE(tool::CountOption(parsed, "dump", "--from", &from));
  EXPECT_EQ(from, 7u);
  uint64_t absent = 7;
  EXPECT_TRUE(tool::CountOption(parsed, "dump", "--step", &absent));
  EXPECT_EQ(absent, 7u);
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
