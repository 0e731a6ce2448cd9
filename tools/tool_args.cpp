#include "tool_args.h"

#include <cstdio>

#include "decimal_number.h"

namespace tool {

namespace {

const OptionDef* FindOption(const std::vector<OptionDef>& known, const std::string& name) {
  // Every output is -o; --output is its long name, for those who expect one.
  const std::string wanted = name == "--output" ? "-o" : name;
  for (const OptionDef& option : known) {
    if (wanted == option.name) return &option;
  }
  return nullptr;
}

// "--from N", or "--hex" for a flag: how messages name an option.
std::string Shown(const std::vector<OptionDef>& known, const char* name) {
  const OptionDef* option = FindOption(known, name);
  if (option == nullptr || option->value == nullptr) return name;
  return std::string(name) + " " + option->value;
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
      // "-o=FILE" means FILE: nobody wants a file whose name starts with "=".
      const OptionDef* shortOption = FindOption(known, arg.substr(0, 2));
      if (shortOption != nullptr && shortOption->value != nullptr) {
        name = arg.substr(0, 2);
        value = arg.substr(arg[2] == '=' ? 3 : 2);
        hasInlineValue = true;
      }
    }
    const OptionDef* option = FindOption(known, name);
    if (option == nullptr) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    const bool takesValue = option->value != nullptr;
    if (takesValue && !hasInlineValue) {
      if (i + 1 >= args.size()) {
        *error = "option '" + name + "' needs a value";
        return false;
      }
      value = args[++i];
    } else if (!takesValue && hasInlineValue) {
      *error = "option '" + name + "' takes no value";
      return false;
    }
    if (takesValue && value.empty()) {
      *error = "option '" + name + "' needs a value";
      return false;
    }
    parsed->values[option->name] = value;
  }
  return true;
}

bool CheckOptionRules(const ParsedArgs& parsed, const std::vector<OptionDef>& known, std::string* error) {
  for (const OptionDef& option : known) {
    const bool given = HasOption(parsed, option.name);
    switch (option.rule) {
      case OptionRule::kOptional:
        break;
      case OptionRule::kRequired:
        if (!given) *error = "needs " + Shown(known, option.name);
        break;
      case OptionRule::kEitherOr:
        if (given == HasOption(parsed, option.other)) {
          *error = "give exactly one of " + Shown(known, option.name) + " and " + Shown(known, option.other);
        }
        break;
      case OptionRule::kOnlyWith:
        if (given && !HasOption(parsed, option.other)) {
          *error = std::string(option.name) + " goes with " + option.other;
        }
        break;
      case OptionRule::kNotWith:
        if (given && HasOption(parsed, option.other)) {
          *error = "give at most one of " + Shown(known, option.name) + " and " + Shown(known, option.other);
        }
        break;
    }
    if (!error->empty()) return false;
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
