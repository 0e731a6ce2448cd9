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
  const std::vector<tool::OptionDef> known = {{"-o", "OUT"}, {"--from", "N"}, {"--hex"}};
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

  // "-o=x" means x, and --output is -o's long name.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-o=x.cap"}, {"--output=x.cap"}, {"--output", "x.cap"}, {"-ox.cap"}}) {
    parsed = tool::ParsedArgs();
    ASSERT_TRUE(tool::ParseArgs(args, known, &parsed, &error)) << args[0];
    EXPECT_EQ(parsed.values.at("-o"), "x.cap") << args[0];
  }
  EXPECT_FALSE(tool::ParseArgs({"-o="}, known, &parsed, &error));
  EXPECT_EQ(error, "option '-o' needs a value");
}

// Required, either-or and only-with options, as the command table declares
// them, each with the message a user sees.
TEST(ToolArgs, OptionRulesAreCheckedAsDeclared) {
  using tool::OptionRule;
  const std::vector<tool::OptionDef> known = {{"-o", "OUT", OptionRule::kEitherOr, "--in-place"},
                                              {"--in-place"},
                                              {"--force", nullptr, OptionRule::kOnlyWith, "--in-place"},
                                              {"--count", "K", OptionRule::kRequired},
                                              {"--json", nullptr, OptionRule::kNotWith, "--in-place"}};
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--count", "1", "-o", "x"}, ""},
      {{"--count", "1", "--in-place", "--force"}, ""},
      {{"--count", "1"}, "give exactly one of -o OUT and --in-place"},
      {{"--count", "1", "-o", "x", "--in-place"}, "give exactly one of -o OUT and --in-place"},
      {{"--count", "1", "-o", "x", "--force"}, "--force goes with --in-place"},
      {{"-o", "x"}, "needs --count K"},
      {{"--count", "1", "--in-place", "--json"}, "give at most one of --json and --in-place"},
  };
  for (const auto& c : cases) {
    tool::ParsedArgs parsed;
    std::string error;
    ASSERT_TRUE(tool::ParseArgs(c.args, known, &parsed, &error)) << error;
    EXPECT_EQ(tool::CheckOptionRules(parsed, known, &error), std::string(c.error).empty()) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
