#include "tool_args.h"

#include <cstdio>

#include "decimal_number.h"

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
    const bool isLong = arg.compare(0, 2, "--") == 0;
    const size_t equals = arg.find('=');
    if (isLong && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasInlineValue = true;
    } else if (!isLong && arg.size() > 2) {
      // "-oFILE": a one-letter option with its value attached.
      const OptionDef* shortOption = FindOption(known, arg.substr(0, 2));
      if (shortOption != nullptr && shortOption->takesValue) {
        name = arg.substr(0, 2);
        value = arg.substr(2);
        hasInlineValue = true;
      }
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

bool CountOption(const ParsedArgs& parsed, const char* command, const std::string& name, uint64_t* value) {
  if (!HasOption(parsed, name)) return true;
  const std::string& text = parsed.values.at(name);
  if (common::ParseDecimal(text, UINT64_MAX, value)) return true;
  ReportError(std::string(command) + ": bad number for " + name + ": '" + text + "'");
  return false;
}

std::string Counted(uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void ReportFileError(const std::string& file, const std::string& message) {
  std::fprintf(stderr, "spi-capture: %s: %s\n", file.c_str(), message.c_str());
}

void ReportError(const std::string& message) {
  std::fprintf(stderr, "spi-capture: %s\n", message.c_str());
}

}  // namespace tool
