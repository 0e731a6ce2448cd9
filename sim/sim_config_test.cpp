#include "sim_config.h"

#include <gtest/gtest.h>

namespace {

sim::SimConfig Parse(const std::string& text) {
  sim::SimConfig config;
  std::string error;
  EXPECT_TRUE(sim::ParseScenario(text, "test", &config, &error) && sim::CheckScenario(config, &error))
      << text << ": " << error;
  return config;
}

std::string ErrorOf(const std::string& text) {
  sim::SimConfig config;
  std::string error;
  if (sim::ParseScenario(text, "test", &config, &error) && sim::CheckScenario(config, &error))
    return "(accepted)";
  return error;
}

TEST(SimConfig, NothingConfiguredMeansTwoBridgesAndASteadyStream) {
  const sim::SimConfig config = Parse("");
  ASSERT_EQ(config.devices.size(), 2u);
  EXPECT_EQ(config.devices[0].serial[0], 'A');
  EXPECT_EQ(config.devices[1].serial[0], 'B');
  EXPECT_EQ(config.source, sim::Source::kGenerator);
  EXPECT_EQ(config.pacing, sim::Pacing::kStream);
  EXPECT_EQ(config.rate, 1000000u);
  EXPECT_EQ(config.shape.minLength, 4096u);
  EXPECT_EQ(config.shape.maxLength, 4096u);
  EXPECT_DOUBLE_EQ(config.shape.nonJShare, 0.01);
  EXPECT_EQ(config.frameLimit, 0u);
}

TEST(SimConfig, KeysSetTheirFields) {
  const sim::SimConfig config = Parse(
      "source=generator; pacing=lockstep; rate=2M\n"
      "frame=64-65535;nonj=0.5 ; seed=42;frames=100\n"
      "  # a comment line\n"
      "short_read=0.25;burst_every=10;burst_bytes=100k   # trailing comment\n"
      "fail=FT_Open:2;fail=FT4222_SPISlave_Read:4@3\n"
      "delay=*:1;delay=FT_Close:5-6\n");
  EXPECT_EQ(config.pacing, sim::Pacing::kLockstep);
  EXPECT_EQ(config.rate, 2000000u);
  EXPECT_EQ(config.shape.minLength, 64u);
  EXPECT_EQ(config.shape.maxLength, 65535u);
  EXPECT_DOUBLE_EQ(config.shape.nonJShare, 0.5);
  EXPECT_EQ(config.shape.seed, 42u);
  EXPECT_EQ(config.frameLimit, 100u);
  EXPECT_DOUBLE_EQ(config.faults.shortReadChance, 0.25);
  EXPECT_EQ(config.burstEveryMs, 10u);
  EXPECT_EQ(config.burstBytes, 100000u);
  EXPECT_EQ(config.faults.failRules.size(), 2u);
  EXPECT_EQ(config.faults.delayRules.size(), 2u);
  EXPECT_TRUE(Parse("rate=unlimited").unlimitedRate);
  EXPECT_EQ(Parse("source=none").source, sim::Source::kNone);
}

TEST(SimConfig, LaterTextOverridesAndRulesAccumulate) {
  sim::SimConfig config;
  std::string error;
  ASSERT_TRUE(sim::ParseScenario("frame=100\nseed=1\nfail=FT_Open:2\nsource=script\nframe J 10", "file",
                                 &config, &error));
  ASSERT_TRUE(sim::ParseScenario("seed=2;fail=FT_Close:3;frame X 20", "SPI_SIM", &config, &error));
  EXPECT_EQ(config.shape.minLength, 100u);
  EXPECT_EQ(config.shape.seed, 2u);
  EXPECT_EQ(config.faults.failRules.size(), 2u);
  ASSERT_EQ(config.script.size(), 2u);
  EXPECT_EQ(config.script[1].marker, 'X');
}

TEST(SimConfig, ScriptLines) {
  const sim::SimConfig config = Parse(
      "source=script\n"
      "frame 4A 58 00 ff\n"
      "frame J 300\n"
      "gap 25\n"
      "fail FT4222_SPISlave_Read 4\n"
      "short 10\n"
      "burst 2\n"
      "frame A 65535\n"
      "frame 0a\n"
      "after=repeat");
  ASSERT_EQ(config.script.size(), 8u);
  EXPECT_EQ(config.script[0].bytes, (std::vector<uint8_t>{0x4A, 0x58, 0x00, 0xFF}));
  EXPECT_FALSE(config.script[0].filled);
  EXPECT_TRUE(config.script[1].filled);
  EXPECT_EQ(config.script[1].marker, 'J');
  EXPECT_EQ(config.script[1].length, 300u);
  EXPECT_EQ(config.script[2].kind, sim::StepKind::kGap);
  EXPECT_EQ(config.script[2].value, 25u);
  EXPECT_EQ(config.script[3].kind, sim::StepKind::kFail);
  EXPECT_EQ(config.script[3].function, sim::Function::kRead);
  EXPECT_EQ(config.script[3].status, 4u);
  EXPECT_EQ(config.script[4].kind, sim::StepKind::kShort);
  EXPECT_EQ(config.script[5].kind, sim::StepKind::kBurst);
  EXPECT_EQ(config.script[6].marker, 'A');  // one character: a marker, not a hex byte
  EXPECT_EQ(config.script[7].bytes, (std::vector<uint8_t>{0x0A}));
  EXPECT_EQ(config.after, sim::AfterEnd::kRepeat);
  EXPECT_EQ(config.script[7].line, 9);
}

TEST(SimConfig, MistakesAreReportedWithTheirPlace) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"colour=red", "test:1: unknown key 'colour'"},
      {"seed=1\n\nframe=0", "test:3: frame:"},
      {"frame=70000", "frame:"},
      {"frame=100-50", "frame:"},
      {"rate=0", "rate:"},
      {"rate=fast", "rate:"},
      {"nonj=1.5", "nonj:"},
      {"release_signal=yes", "release_signal:"},
      {"source=file", "source:"},
      {"pacing=fast", "pacing:"},
      {"after=never", "after:"},
      {"devices=A1,,B1", "devices: empty entry"},
      {"devices=A1234567890123456", "longer than 15"},
      {"fail=FT_Open", "fail:"},
      {"delay=FT_Open:x", "delay:"},
      {"source=script;frame", "frame:"},
      {"source=script;frame J 0", "frame: length"},
      {"source=script;frame 4A 5", "not a two-digit hex byte"},
      {"source=script;gap", "gap:"},
      {"source=script;burst 0", "burst:"},
      {"source=script;fail FT_Open 0", "fail:"},
      {"source=script;jump 3", "unknown line 'jump 3'"},
      {"frame J 10", "script lines need source=script"},
      {"source=replay", "source=replay needs replay=PATH"},
      {"replay=/tmp/x", "replay=PATH needs source=replay"},
      {"burst_every=10", "burst_bytes"},
      {"source=script;burst_every=10;burst_bytes=1", "burst_every needs"},
      {"source=script;burst 2;frame J 1;gap 5;frame J 1", "burst 2 must be followed"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(ErrorOf(c.text).find(c.message), std::string::npos) << c.text << " gave: " << ErrorOf(c.text);
  }
}

}  // namespace
