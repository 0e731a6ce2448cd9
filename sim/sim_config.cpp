#include "sim_config.h"

#include "decimal_number.h"
#include "number_parse.h"

namespace sim {

namespace {

constexpr uint64_t kMaxRate = 1000ull * 1000 * 1000;  // 1 GB/s: far beyond any SPI link
constexpr uint32_t kMaxMs = 3600 * 1000;
constexpr size_t kMaxSerialLength = 15;  // leaves room for the terminating zero
constexpr size_t kMaxDevices = 26;

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool ParseDevices(const std::string& value, std::vector<DeviceEntry>* devices, std::string* error) {
  devices->clear();
  if (value.empty()) return true;
  for (const std::string& raw : SplitOn(value, ',')) {
    std::string serial = Trim(raw);
    DeviceEntry entry;
    if (!serial.empty() && serial[0] == '!') {
      entry.detailFails = true;
      serial.erase(0, 1);
    }
    if (serial == "-") serial.clear();
    if (serial.empty() && !entry.detailFails && Trim(raw) != "-") {
      *error = "devices: empty entry (write '-' for a device with an empty serial)";
      return false;
    }
    if (serial.size() > kMaxSerialLength) {
      *error = "devices: serial '" + serial + "' is longer than 15 characters";
      return false;
    }
    entry.serial = serial;
    devices->push_back(entry);
  }
  if (devices->size() > kMaxDevices) {
    *error = "devices: at most 26 devices";
    return false;
  }
  return true;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexByte(const std::string& text, uint8_t* byte) {
  if (text.size() != 2 || HexDigitValue(text[0]) < 0 || HexDigitValue(text[1]) < 0) return false;
  *byte = static_cast<uint8_t>(HexDigitValue(text[0]) * 16 + HexDigitValue(text[1]));
  return true;
}

bool ParseFrameStep(const std::vector<std::string>& words, ScriptStep* step, std::string* error) {
  // "frame J 300": a one-character marker and a length; otherwise hex bytes.
  if (words.size() == 3 && words[1].size() == 1) {
    uint64_t length = 0;
    if (!common::ParseDecimal(words[2], kMaxFrameLength, &length) || length == 0) {
      *error = "frame: length must be 1..65535, got '" + words[2] + "'";
      return false;
    }
    step->filled = true;
    step->marker = static_cast<uint8_t>(words[1][0]);
    step->length = static_cast<uint32_t>(length);
    return true;
  }
  if (words.size() < 2 || words.size() - 1 > kMaxFrameLength) {
    *error = "frame: expected 'frame MARKER LENGTH' or 'frame' and 1..65535 hex bytes";
    return false;
  }
  for (size_t i = 1; i < words.size(); ++i) {
    uint8_t byte = 0;
    if (!ParseHexByte(words[i], &byte)) {
      *error = "frame: '" + words[i] + "' is not a two-digit hex byte";
      return false;
    }
    step->bytes.push_back(byte);
  }
  return true;
}

bool ParseScriptLine(const std::string& item, ScriptStep* step, std::string* error) {
  const std::vector<std::string> words = SplitWords(item);
  const std::string& command = words[0];
  uint64_t number = 0;
  if (command == "frame") {
    step->kind = StepKind::kFrame;
    return ParseFrameStep(words, step, error);
  }
  if (command == "fail") {
    step->kind = StepKind::kFail;
    if (words.size() != 3 || !FunctionFromName(words[1], &step->function)) {
      *error = "fail: expected 'fail FUNCTION STATUS' with an exported function name";
      return false;
    }
    if (!common::ParseDecimal(words[2], UINT32_MAX, &number) || number == 0) {
      *error = "fail: status must be a non-zero 32-bit number, got '" + words[2] + "'";
      return false;
    }
    step->status = static_cast<uint32_t>(number);
    return true;
  }
  struct NumberCommand {
    const char* name;
    StepKind kind;
    uint64_t low;
    uint64_t high;
  };
  static constexpr NumberCommand kNumberCommands[] = {
      {"gap", StepKind::kGap, 0, kMaxMs},
      {"short", StepKind::kShort, 0, kMaxFrameLength},
      {"burst", StepKind::kBurst, 1, 1000000},
  };
  for (const NumberCommand& candidate : kNumberCommands) {
    if (command != candidate.name) continue;
    step->kind = candidate.kind;
    if (words.size() != 2 || !common::ParseDecimal(words[1], candidate.high, &number) ||
        number < candidate.low) {
      *error = command + ": expected one number within " + std::to_string(candidate.low) + ".." +
               std::to_string(candidate.high);
      return false;
    }
    step->value = static_cast<uint32_t>(number);
    return true;
  }
  *error =
      "unknown line '" + item + "' (expected key=value or a script line: frame, gap, fail, short, burst)";
  return false;
}

bool ParseKeyValue(const std::string& key, const std::string& value, SimConfig* config, std::string* error) {
  uint64_t number = 0;
  uint64_t low = 0;
  uint64_t high = 0;
  if (key == "devices") return ParseDevices(value, &config->devices, error);
  if (key == "source") {
    if (value == "generator") {
      config->source = Source::kGenerator;
    } else if (value == "script") {
      config->source = Source::kScript;
    } else if (value == "replay") {
      config->source = Source::kReplay;
    } else if (value == "none") {
      config->source = Source::kNone;
    } else {
      *error = "source: expected generator, script, replay or none, got '" + value + "'";
      return false;
    }
    return true;
  }
  if (key == "pacing") {
    if (value != "stream" && value != "lockstep") {
      *error = "pacing: expected stream or lockstep, got '" + value + "'";
      return false;
    }
    config->pacing = value == "stream" ? Pacing::kStream : Pacing::kLockstep;
    return true;
  }
  if (key == "after") {
    if (value != "idle" && value != "repeat") {
      *error = "after: expected idle or repeat, got '" + value + "'";
      return false;
    }
    config->after = value == "idle" ? AfterEnd::kIdle : AfterEnd::kRepeat;
    return true;
  }
  if (key == "rate") {
    if (value == "unlimited") {
      config->unlimitedRate = true;
      return true;
    }
    if (!ParseScaledUnsigned(value, kMaxRate, &number) || number == 0) {
      *error = "rate: expected bytes per second (1..1G, k/M/G allowed) or unlimited, got '" + value + "'";
      return false;
    }
    config->unlimitedRate = false;
    config->rate = number;
    return true;
  }
  if (key == "frame") {
    if (!ParseRange(value, 1, kMaxFrameLength, &low, &high)) {
      *error = "frame: expected N or MIN-MAX within 1..65535, got '" + value + "'";
      return false;
    }
    config->shape.minLength = static_cast<uint32_t>(low);
    config->shape.maxLength = static_cast<uint32_t>(high);
    return true;
  }
  if (key == "nonj" || key == "short_read") {
    double chance = 0.0;
    if (!ParseProbability(value, &chance)) {
      *error = key + ": expected a probability within 0..1, got '" + value + "'";
      return false;
    }
    (key == "nonj" ? config->shape.nonJShare : config->faults.shortReadChance) = chance;
    return true;
  }
  if (key == "seed" || key == "frames" || key == "burst_bytes") {
    if (!ParseScaledUnsigned(value, UINT64_MAX, &number)) {
      *error = key + ": expected a whole number, got '" + value + "'";
      return false;
    }
    (key == "seed" ? config->shape.seed : key == "frames" ? config->frameLimit : config->burstBytes) = number;
    return true;
  }
  if (key == "burst_every") {
    if (!common::ParseDecimal(value, kMaxMs, &number)) {
      *error = "burst_every: expected milliseconds, got '" + value + "'";
      return false;
    }
    config->burstEveryMs = static_cast<uint32_t>(number);
    return true;
  }
  if (key == "release_signal") {
    if (value != "0" && value != "1") {
      *error = "release_signal: expected 0 or 1, got '" + value + "'";
      return false;
    }
    config->releaseSignal = value == "1";
    return true;
  }
  if (key == "replay") {
    config->replayPath = value;
    return true;
  }
  if (key == "fail") {
    FailRule rule;
    if (!ParseFailRule(value, &rule, error)) return false;
    config->faults.failRules.push_back(rule);
    return true;
  }
  if (key == "delay") {
    DelayRule rule;
    if (!ParseDelayRule(value, &rule, error)) return false;
    config->faults.delayRules.push_back(rule);
    return true;
  }
  *error = "unknown key '" + key + "'";
  return false;
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& origin, SimConfig* config,
                   std::string* error) {
  const std::vector<std::string> lines = SplitOn(text, '\n');
  for (size_t lineIndex = 0; lineIndex < lines.size(); ++lineIndex) {
    const std::string line = lines[lineIndex].substr(0, lines[lineIndex].find('#'));
    const int lineNumber = static_cast<int>(lineIndex + 1);
    for (const std::string& raw : SplitOn(line, ';')) {
      const std::string item = Trim(raw);
      if (item.empty()) continue;
      std::string message;
      bool ok = false;
      const size_t equals = item.find('=');
      if (equals != std::string::npos) {
        ok = ParseKeyValue(Trim(item.substr(0, equals)), Trim(item.substr(equals + 1)), config, &message);
      } else {
        ScriptStep step;
        step.line = lineNumber;
        ok = ParseScriptLine(item, &step, &message);
        if (ok) config->script.push_back(step);
      }
      if (!ok) {
        *error = origin + ":" + std::to_string(lineNumber) + ": " + message;
        return false;
      }
    }
  }
  return true;
}

bool CheckScenario(const SimConfig& config, std::string* error) {
  if (!config.script.empty() && config.source != Source::kScript) {
    *error = "script lines need source=script";
    return false;
  }
  if (config.source == Source::kReplay && config.replayPath.empty()) {
    *error = "source=replay needs replay=PATH";
    return false;
  }
  if (config.source != Source::kReplay && !config.replayPath.empty()) {
    *error = "replay=PATH needs source=replay";
    return false;
  }
  if (config.burstEveryMs != 0) {
    if (config.source != Source::kGenerator && config.source != Source::kReplay) {
      *error = "burst_every needs source=generator or source=replay";
      return false;
    }
    if (config.burstBytes == 0) {
      *error = "burst_every needs burst_bytes greater than 0";
      return false;
    }
  }
  for (size_t i = 0; i < config.script.size(); ++i) {
    if (config.script[i].kind != StepKind::kBurst) continue;
    // A burst's frames arrive together, so nothing may pause between them.
    uint32_t frames = 0;
    for (size_t k = i + 1; k < config.script.size() && frames < config.script[i].value; ++k) {
      if (config.script[k].kind == StepKind::kFrame) ++frames;
      if (config.script[k].kind == StepKind::kGap || config.script[k].kind == StepKind::kBurst) break;
    }
    if (frames < config.script[i].value) {
      *error = "line " + std::to_string(config.script[i].line) + ": burst " +
               std::to_string(config.script[i].value) +
               " must be followed by that many frame lines, with no gap";
      return false;
    }
  }
  return true;
}

}  // namespace sim
