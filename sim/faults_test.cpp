#include "faults.h"

#include <gtest/gtest.h>

namespace {

sim::FaultPlan PlanWith(std::initializer_list<const char*> failRules,
                        std::initializer_list<const char*> delayRules) {
  sim::FaultPlan plan;
  std::string error;
  for (const char* text : failRules) {
    sim::FailRule rule;
    EXPECT_TRUE(sim::ParseFailRule(text, &rule, &error)) << text << ": " << error;
    plan.failRules.push_back(rule);
  }
  for (const char* text : delayRules) {
    sim::DelayRule rule;
    EXPECT_TRUE(sim::ParseDelayRule(text, &rule, &error)) << text << ": " << error;
    plan.delayRules.push_back(rule);
  }
  return plan;
}

TEST(Faults, FunctionNamesRoundTrip) {
  for (int i = 0; i < sim::kFunctionCount; ++i) {
    sim::Function parsed = sim::Function::kOpen;
    ASSERT_TRUE(sim::FunctionFromName(sim::FunctionName(static_cast<sim::Function>(i)), &parsed));
    EXPECT_EQ(static_cast<int>(parsed), i);
  }
  sim::Function parsed;
  EXPECT_FALSE(sim::FunctionFromName("FT_Read", &parsed));
}

TEST(Faults, RuleSyntax) {
  sim::FailRule fail;
  std::string error;
  ASSERT_TRUE(sim::ParseFailRule("FT4222_SPISlave_Read:4@3", &fail, &error));
  EXPECT_EQ(fail.function, sim::Function::kRead);
  EXPECT_EQ(fail.status, 4u);
  EXPECT_EQ(fail.when, sim::FailWhen::kOnCall);
  EXPECT_EQ(fail.call, 3u);
  ASSERT_TRUE(sim::ParseFailRule("FT_Open:2%0.5", &fail, &error));
  EXPECT_EQ(fail.when, sim::FailWhen::kWithChance);
  EXPECT_DOUBLE_EQ(fail.chance, 0.5);
  for (const char* bad :
       {"FT_Open", "FT_Open:0", "FT_Opn:2", "FT_Open:2@0", "FT_Open:2%2", "FT_Open:x", ":2"}) {
    EXPECT_FALSE(sim::ParseFailRule(bad, &fail, &error)) << bad;
  }

  sim::DelayRule delay;
  ASSERT_TRUE(sim::ParseDelayRule("*:5-9", &delay, &error));
  EXPECT_TRUE(delay.everyFunction);
  EXPECT_EQ(delay.minMs, 5u);
  EXPECT_EQ(delay.maxMs, 9u);
  for (const char* bad : {"*", "*:9-5", "FT_Nope:5", "FT_Open:-1"}) {
    EXPECT_FALSE(sim::ParseDelayRule(bad, &delay, &error)) << bad;
  }
}

TEST(Faults, FailAlwaysOnTheNthCallAndByChance) {
  const sim::FaultPlan plan = PlanWith(
      {"FT_SetTimeouts:4", "FT4222_SPISlave_GetRxStatus:7@3", "FT4222_SPISlave_Read:4%0.5", "FT_Open:3%0"},
      {});
  sim::FaultState state;
  sim::ResetFaultState(1, &state);
  std::vector<uint32_t> rxStatus;
  int readFailures = 0;
  for (int call = 1; call <= 1000; ++call) {
    EXPECT_EQ(sim::InjectedFailure(plan, sim::Function::kSetTimeouts, &state), 4u);
    EXPECT_EQ(sim::InjectedFailure(plan, sim::Function::kOpen, &state), 0u);
    if (call <= 5) rxStatus.push_back(sim::InjectedFailure(plan, sim::Function::kGetRxStatus, &state));
    if (sim::InjectedFailure(plan, sim::Function::kRead, &state) != 0) ++readFailures;
  }
  EXPECT_EQ(rxStatus, (std::vector<uint32_t>{0, 0, 7, 0, 0}));
  EXPECT_GT(readFailures, 400);
  EXPECT_LT(readFailures, 600);

  // The same seed makes the same decisions.
  sim::FaultState again;
  sim::ResetFaultState(1, &again);
  sim::FaultState other;
  sim::ResetFaultState(2, &other);
  std::string first;
  std::string second;
  std::string third;
  for (int call = 0; call < 64; ++call) {
    first += sim::InjectedFailure(plan, sim::Function::kRead, &again) != 0 ? '1' : '0';
    second += sim::InjectedFailure(plan, sim::Function::kRead, &other) != 0 ? '1' : '0';
  }
  sim::ResetFaultState(1, &again);
  for (int call = 0; call < 64; ++call)
    third += sim::InjectedFailure(plan, sim::Function::kRead, &again) ? '1' : '0';
  EXPECT_EQ(first, third);
  EXPECT_NE(first, second);
}

TEST(Faults, ArmedFailureComesFirstAndOnlyOnce) {
  const sim::FaultPlan plan = PlanWith({"FT4222_SPISlave_Read:4@2"}, {});
  sim::FaultState state;
  sim::ResetFaultState(1, &state);
  state.armedFailure[static_cast<size_t>(sim::Function::kRead)] = 9;
  EXPECT_EQ(sim::InjectedFailure(plan, sim::Function::kRead, &state), 9u);
  EXPECT_EQ(sim::InjectedFailure(plan, sim::Function::kRead, &state), 4u);  // still the 2nd call
  EXPECT_EQ(sim::InjectedFailure(plan, sim::Function::kRead, &state), 0u);
}

TEST(Faults, DelaysAddUpAndStayInTheirRange) {
  const sim::FaultPlan plan = PlanWith({}, {"*:2", "FT_Open:10-20", "FT_Close:1"});
  sim::FaultState state;
  sim::ResetFaultState(1, &state);
  EXPECT_EQ(sim::InjectedDelayMs(plan, sim::Function::kRead, &state), 2u);
  EXPECT_EQ(sim::InjectedDelayMs(plan, sim::Function::kClose, &state), 3u);
  bool sawLow = false;
  bool sawHigh = false;
  for (int i = 0; i < 500; ++i) {
    const uint32_t ms = sim::InjectedDelayMs(plan, sim::Function::kOpen, &state);
    ASSERT_GE(ms, 12u);
    ASSERT_LE(ms, 22u);
    sawLow |= ms == 12;
    sawHigh |= ms == 22;
  }
  EXPECT_TRUE(sawLow && sawHigh);
}

TEST(Faults, ShortReadsDeliverLessButNeverNothingUnlessArmed) {
  sim::FaultPlan plan;
  plan.shortReadChance = 1.0;
  sim::FaultState state;
  sim::ResetFaultState(1, &state);
  for (int i = 0; i < 200; ++i) {
    const uint32_t limit = sim::LimitRead(plan, 4096, &state);
    ASSERT_GE(limit, 1u);
    ASSERT_LT(limit, 4096u);
  }
  EXPECT_EQ(sim::LimitRead(plan, 1, &state), 1u);  // one byte cannot be cut
  state.shortReadArmed = true;
  state.shortReadLength = 0;
  EXPECT_EQ(sim::LimitRead(plan, 4096, &state), 0u);
  plan.shortReadChance = 0.0;
  EXPECT_EQ(sim::LimitRead(plan, 4096, &state), 4096u);
}

}  // namespace
