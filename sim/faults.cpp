#include "faults.h"

#include "decimal_number.h"
#include "number_parse.h"

namespace sim {

namespace {

constexpr const char* kFunctionNames[kFunctionCount] = {
    "FT_CreateDeviceInfoList",
    "FT_GetDeviceInfoDetail",
    "FT_Open",
    "FT4222_SetClock",
    "FT_SetTimeouts",
    "FT_SetLatencyTimer",
    "FT_SetUSBParameters",
    "FT4222_SPISlave_Init",
    "FT4222_SPI_SetDrivingStrength",
    "FT4222_SetEventNotification",
    "FT4222_SPISlave_GetRxStatus",
    "FT4222_SPISlave_Read",
    "FT4222_UnInitialize",
    "FT_Close",
};

size_t IndexOf(Function function) {
  return static_cast<size_t>(function);
}

bool SplitFunction(const std::string& value, const char* key, std::string* name, std::string* rest,
                   std::string* error) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos) {
    *error = std::string(key) + ": expected FUNCTION:..., got '" + value + "'";
    return false;
  }
  *name = value.substr(0, colon);
  *rest = value.substr(colon + 1);
  return true;
}

}  // namespace

const char* FunctionName(Function function) {
  return kFunctionNames[IndexOf(function)];
}

bool FunctionFromName(const std::string& name, Function* function) {
  for (int i = 0; i < kFunctionCount; ++i) {
    if (name == kFunctionNames[i]) {
      *function = static_cast<Function>(i);
      return true;
    }
  }
  return false;
}

bool ParseFailRule(const std::string& value, FailRule* rule, std::string* error) {
  std::string name;
  std::string rest;
  if (!SplitFunction(value, "fail", &name, &rest, error)) return false;
  FailRule parsed;
  if (!FunctionFromName(name, &parsed.function)) {
    *error = "fail: unknown function '" + name + "'";
    return false;
  }
  const size_t mark = rest.find_first_of("@%");
  const std::string statusText = rest.substr(0, mark);
  uint64_t status = 0;
  if (!common::ParseDecimal(statusText, UINT32_MAX, &status) || status == 0) {
    *error = "fail: status must be a non-zero 32-bit number, got '" + statusText + "'";
    return false;
  }
  parsed.status = static_cast<uint32_t>(status);
  if (mark != std::string::npos) {
    const std::string condition = rest.substr(mark + 1);
    if (rest[mark] == '@') {
      parsed.when = FailWhen::kOnCall;
      if (!common::ParseDecimal(condition, UINT64_MAX, &parsed.call) || parsed.call == 0) {
        *error = "fail: call number after '@' must be 1 or more, got '" + condition + "'";
        return false;
      }
    } else {
      parsed.when = FailWhen::kWithChance;
      if (!ParseProbability(condition, &parsed.chance)) {
        *error = "fail: probability after '%' must be within 0..1, got '" + condition + "'";
        return false;
      }
    }
  }
  *rule = parsed;
  return true;
}

bool ParseDelayRule(const std::string& value, DelayRule* rule, std::string* error) {
  std::string name;
  std::string rest;
  if (!SplitFunction(value, "delay", &name, &rest, error)) return false;
  DelayRule parsed;
  if (name == "*") {
    parsed.everyFunction = true;
  } else if (!FunctionFromName(name, &parsed.function)) {
    *error = "delay: unknown function '" + name + "'";
    return false;
  }
  uint64_t minMs = 0;
  uint64_t maxMs = 0;
  if (!ParseRange(rest, 0, 3600 * 1000, &minMs, &maxMs)) {
    *error = "delay: expected MS or MIN-MAX milliseconds, got '" + rest + "'";
    return false;
  }
  parsed.minMs = static_cast<uint32_t>(minMs);
  parsed.maxMs = static_cast<uint32_t>(maxMs);
  *rule = parsed;
  return true;
}

void ResetFaultState(uint64_t seed, FaultState* state) {
  *state = FaultState{};
  state->prng.state = Mix64(seed ^ 0x6661756C7473ull);
}

uint32_t InjectedFailure(const FaultPlan& plan, Function function, FaultState* state) {
  const uint64_t call = ++state->calls[IndexOf(function)];
  uint32_t& armed = state->armedFailure[IndexOf(function)];
  if (armed != 0) {
    const uint32_t status = armed;
    armed = 0;
    return status;
  }
  for (const FailRule& rule : plan.failRules) {
    if (rule.function != function) continue;
    switch (rule.when) {
      case FailWhen::kAlways:
        return rule.status;
      case FailWhen::kOnCall:
        if (rule.call == call) return rule.status;
        break;
      case FailWhen::kWithChance:
        if (NextUnit(&state->prng) < rule.chance) return rule.status;
        break;
    }
  }
  return 0;
}

uint32_t InjectedDelayMs(const FaultPlan& plan, Function function, FaultState* state) {
  uint32_t total = 0;
  for (const DelayRule& rule : plan.delayRules) {
    if (!rule.everyFunction && rule.function != function) continue;
    total += rule.minMs == rule.maxMs
                 ? rule.minMs
                 : static_cast<uint32_t>(NextInRange(&state->prng, rule.minMs, rule.maxMs));
  }
  return total;
}

uint32_t LimitRead(const FaultPlan& plan, uint32_t deliverable, FaultState* state) {
  if (state->shortReadArmed) {
    state->shortReadArmed = false;
    return state->shortReadLength < deliverable ? state->shortReadLength : deliverable;
  }
  if (plan.shortReadChance > 0.0 && deliverable >= 2 && NextUnit(&state->prng) < plan.shortReadChance) {
    return static_cast<uint32_t>(NextInRange(&state->prng, 1, deliverable - 1));
  }
  return deliverable;
}

}  // namespace sim
