// Command-line parsing and messages shared by the spi-capture subcommands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a damaged file or an I/O error
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;  // standard output could not be written

// What a command asks of one of its options; checked before it runs.
enum class OptionRule {
  kOptional,
  kRequired,
  kEitherOr,  // exactly one of this option and `other`
  kOnlyWith,  // given only together with `other`
  kNotWith,   // never together with `other`
};

struct OptionDef {
  const char* name;             // "--from" or "-o" (which "--output" names too)
  const char* value = nullptr;  // the value's name in messages ("N", "OUT"); null for a flag
  OptionRule rule = OptionRule::kOptional;
  const char* other = nullptr;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // option name -> value ("" for flags)
};

// Splits args into options and positional arguments. Accepts "--name value",
// "--name=value", "-o value", "-ovalue", "-o=value" (the value without the
// "="), "--output" for "-o", and "--" to end the options; a lone "-" is a
// positional argument (standard input or output). Fails on an unknown option
// or a missing value, with a message for the user.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& known, ParsedArgs* parsed,
               std::string* error);

// Checks the options' rules (required, either-or, only-with); false with a
// message for the user.
bool CheckOptionRules(const ParsedArgs& parsed, const std::vector<OptionDef>& known, std::string* error);

bool HasOption(const ParsedArgs& parsed, const std::string& name);

// Reads option name's value as a count (decimal digits, up to 2^64 - 1) into
// *value when the option is given (leaving *value alone otherwise). On a bad number, says so and returns
// false; the caller exits with kExitUsage.
bool CountOption(const ParsedArgs& parsed, const char* command, const std::string& name, uint64_t* value);

// "1 record", "2 records": count and noun, the noun in the plural unless
// count is 1.
std::string Counted(uint64_t count, const std::string& noun);

// "spi-capture: FILE: message" on standard error.
void ReportFileError(const std::string& file, const std::string& message);

// "spi-capture: message" on standard error.
void ReportError(const std::string& message);

}  // namespace tool
