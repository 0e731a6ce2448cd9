// Command-line parsing shared by the spi-capture subcommands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a damaged file or an I/O error
constexpr int kExitUsage = 2;

struct OptionDef {
  const char* name;  // "--from" or "-o"
  bool takesValue;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // option name -> value ("" for flags)
};

// Splits args into options and positional arguments. Accepts "--name value",
// "--name=value", and "--" to end the options. Fails on an unknown option or
// a missing value, with a message for the user.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& known, ParsedArgs* parsed,
               std::string* error);

bool HasOption(const ParsedArgs& parsed, const std::string& name);

// Reads a decimal count: digits only, no sign, no overflow.
bool ParseCount(const std::string& text, uint64_t* value);

// "spi-capture: FILE: message" on standard error.
void ReportFileError(const std::string& file, const std::string& message);

// "spi-capture: message" on standard error.
void ReportError(const std::string& message);

}  // namespace tool
