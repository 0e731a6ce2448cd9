#include "tool_args.h"

#include <cstdio>

namespace tool {

namespace {

const OptionDef* FindOption(const std::vector<OptionDef>& known, const std::string& name) {
  for (const OptionDef& option : known) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& known, ParsedArgs* parsed,
               std::string* error) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A lone "-" is a file name by convention, not an option.
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool hasInlineValue = false;
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasInlineValue = true;
    }
    const OptionDef* option = FindOption(known, name);
    if (option == nullptr) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (option->takesValue && !hasInlineValue) {
      if (i + 1 >= args.size()) {
        *error = "option '" + name + "' needs a value";
        return false;
      }
      value = args[++i];
    } else if (!option->takesValue && hasInlineValue) {
      *error = "option '" + name + "' takes no value";
      return false;
    }
    parsed->values[name] = value;
  }
  return true;
}

bool HasOption(const ParsedArgs& parsed, const std::string& name) {
  return parsed.values.count(name) != 0;
}

bool ParseCount(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;  // 19 digits always fit in 64 bits
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

void ReportFileError(const std::string& file, const std::string& message) {
  std::fprintf(stderr, "spi-capture: %s: %s\n", file.c_str(), message.c_str());
}

void ReportError(const std::string& message) {
  std::fprintf(stderr, "spi-capture: %s\n", message.c_str());
}

}  // namespace tool
