// The spi-capture subcommands. Each takes its parsed arguments (already
// checked for count) and returns the process's exit status.
#pragma once

#include "tool_args.h"

namespace tool {

int RunInfo(const ParsedArgs& args);
int RunVerify(const ParsedArgs& args);
int RunDump(const ParsedArgs& args);
int RunExport(const ParsedArgs& args);
int RunRepair(const ParsedArgs& args);
int RunCat(const ParsedArgs& args);
int RunSlice(const ParsedArgs& args);
int RunSplit(const ParsedArgs& args);
int RunCheck(const ParsedArgs& args);
int RunFollow(const ParsedArgs& args);

}  // namespace tool
