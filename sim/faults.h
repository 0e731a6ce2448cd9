// Fault injection: which call fails with which status, which call is slowed
// down, which read delivers less than it could. Rules come from the scenario;
// the decisions are drawn from a seeded generator so a run repeats.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "prng.h"

namespace sim {

// The exported functions, in the order the receiver first calls them.
enum class Function : int {
  kCreateDeviceInfoList,
  kGetDeviceInfoDetail,
  kOpen,
  kSetClock,
  kSetTimeouts,
  kSetLatencyTimer,
  kSetUSBParameters,
  kSPISlaveInit,
  kSetDrivingStrength,
  kSetEventNotification,
  kGetRxStatus,
  kRead,
  kUnInitialize,
  kClose,
};
constexpr int kFunctionCount = 14;

// The exported name, e.g. "FT4222_SPISlave_Read".
const char* FunctionName(Function function);
bool FunctionFromName(const std::string& name, Function* function);

enum class FailWhen {
  kAlways,      // FUNCTION:STATUS
  kOnCall,      // FUNCTION:STATUS@N, the N-th call only (1-based)
  kWithChance,  // FUNCTION:STATUS%P
};

struct FailRule {
  Function function = Function::kRead;
  uint32_t status = 0;
  FailWhen when = FailWhen::kAlways;
  uint64_t call = 0;
  double chance = 0.0;
};

struct DelayRule {
  bool everyFunction = false;  // written as '*'
  Function function = Function::kRead;
  uint32_t minMs = 0;
  uint32_t maxMs = 0;
};

struct FaultPlan {
  std::vector<FailRule> failRules;
  std::vector<DelayRule> delayRules;
  double shortReadChance = 0.0;
};

// Parse the value of fail= and delay= items.
bool ParseFailRule(const std::string& value, FailRule* rule, std::string* error);
bool ParseDelayRule(const std::string& value, DelayRule* rule, std::string* error);

struct FaultState {
  std::array<uint64_t, kFunctionCount> calls{};
  // One-shot failures and read limits armed by script lines; 0 / false = none.
  std::array<uint32_t, kFunctionCount> armedFailure{};
  bool shortReadArmed = false;
  uint32_t shortReadLength = 0;
  Prng prng;
};

void ResetFaultState(uint64_t seed, FaultState* state);

// Counts the call and returns the status it must fail with, 0 for none. An
// armed one-shot failure comes first, then the rules in scenario order.
uint32_t InjectedFailure(const FaultPlan& plan, Function function, FaultState* state);

// How long to hold the call up, in milliseconds; rules for the same call add.
uint32_t InjectedDelayMs(const FaultPlan& plan, Function function, FaultState* state);

// How many of the deliverable bytes a read hands out: all of them, or fewer
// when a short read is armed or drawn. A drawn short read delivers 1 to
// deliverable - 1 bytes; the rest stays pending, as on the chip, whose
// buffer only ever gives up what was actually transferred.
uint32_t LimitRead(const FaultPlan& plan, uint32_t deliverable, FaultState* state);

}  // namespace sim
