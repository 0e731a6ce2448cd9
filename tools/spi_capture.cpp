// spi-capture: inspects, checks, exports, repairs and joins capture files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "tool_args.h"

namespace tool {

namespace {

struct Command {
  const char* name;
  const char* summary;
  const char* usage;  // the lines after "usage: spi-capture"
  std::vector<OptionDef> options;
  size_t minFiles;
  size_t maxFiles;  // 0: no limit
  int (*run)(const ParsedArgs& args);
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "counts, lengths and integrity of a capture",
       "info FILE\n"
       "Prints the number of records, frame bytes, frame lengths (min, max, mean,\n"
       "power-of-two histogram), the file size, and where any damage starts.\n"
       "Exits 1 if the file is damaged.\n",
       {},
       1,
       1,
       RunInfo},
      {"verify",
       "checks that captures are whole",
       "verify FILE...\n"
       "Prints 'FILE: OK (N records, M bytes)' for each whole file and reports the\n"
       "first problem of each damaged one. Exits 1 if any file is damaged.\n",
       {},
       1,
       0,
       RunVerify},
      {"dump",
       "lists the records of a capture",
       "dump FILE [--from N] [--count K] [--hex]\n"
       "One line per record: index, offset, frame length, byte 1, first 16 bytes.\n"
       "  --from N   start at record N (0-based)\n"
       "  --count K  list at most K records\n"
       "  --hex      add a hex dump of each whole frame\n",
       {{"--from", true}, {"--count", true}, {"--hex", false}},
       1,
       1,
       RunDump},
      {"export",
       "writes the frames as CSV, raw bytes or files",
       "export FILE --format csv|raw|frames -o OUT\n"
       "  csv     one row per record: index,offset,length,byte1,payload_hex\n"
       "          (payload_hex is the whole frame as sent)\n"
       "  raw     the frames back to back, as the master sent them\n"
       "  frames  OUT is a directory: one file per frame, frame_000000.bin, ...\n"
       "A damaged capture exports the records before the damage and exits 1.\n",
       {{"--format", true}, {"-o", true}},
       1,
       1,
       RunExport},
      {"repair",
       "drops everything from the first damage on",
       "repair FILE -o OUT\n"
       "repair FILE --in-place [--force]\n"
       "Keeps every whole record before the first damage. --in-place keeps the\n"
       "original as FILE.bak and refuses to replace an existing backup unless\n"
       "--force is given. The result is written under a temporary name and\n"
       "renamed, so it is never left half-written.\n",
       {{"-o", true}, {"--in-place", false}, {"--force", false}},
       1,
       1,
       RunRepair},
      {"cat",
       "joins captures into one",
       "cat FILE... -o OUT [--skip-damaged]\n"
       "Writes the records of every FILE, in order, to OUT. Refuses, leaving\n"
       "nothing behind, if an input is damaged, unless --skip-damaged is given:\n"
       "then each damaged input contributes the records before its damage.\n",
       {{"-o", true}, {"--skip-damaged", false}},
       1,
       0,
       RunCat},
  };
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void PrintHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: spi-capture COMMAND [ARGS]\n"
               "       spi-capture help COMMAND | --help | --version\n\n"
               "Inspects, checks and repairs capture files of the SPI receiver.\n\ncommands:\n");
  for (const Command& command : Commands()) std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(out, "\nexit status: 0 success, 1 damaged file or I/O error, 2 usage error\n");
}

void PrintCommandHelp(const Command& command) {
  std::printf("usage: spi-capture %s", command.usage);
}

int UsageError(const std::string& message, const char* command) {
  ReportError(message);
  if (command != nullptr) {
    std::fprintf(stderr, "Try 'spi-capture help %s'.\n", command);
  } else {
    std::fprintf(stderr, "Try 'spi-capture --help'.\n");
  }
  return kExitUsage;
}

int RunCommand(const Command& command, const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      PrintCommandHelp(command);
      return kExitOk;
    }
  }
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, command.options, &parsed, &error)) {
    return UsageError(std::string(command.name) + ": " + error, command.name);
  }
  const size_t files = parsed.positional.size();
  if (files < command.minFiles) return UsageError(std::string(command.name) + ": missing FILE", command.name);
  if (command.maxFiles != 0 && files > command.maxFiles) {
    return UsageError(std::string(command.name) + ": unexpected argument '" + parsed.positional.back() + "'",
                      command.name);
  }
  const int status = command.run(parsed);
  if (status == kExitUsage) std::fprintf(stderr, "Try 'spi-capture help %s'.\n", command.name);
  if (std::fflush(stdout) != 0 && status == kExitOk) {
    ReportError(std::string("cannot write standard output: ") + std::strerror(errno));
    return kExitFailed;
  }
  return status;
}

}  // namespace

int Main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("missing command", nullptr);
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (first == "--version") {
    std::printf("spi-capture %s\n", SPI_CAPTURE_VERSION);
    return kExitOk;
  }
  if (first == "help") {
    if (args.size() == 1) {
      PrintHelp(stdout);
      return kExitOk;
    }
    const Command* command = FindCommand(args[1]);
    if (command == nullptr || args.size() > 2)
      return UsageError("help: unknown command '" + args[1] + "'", nullptr);
    PrintCommandHelp(*command);
    return kExitOk;
  }
  const Command* command = FindCommand(first);
  if (command == nullptr) {
    if (first.size() > 1 && first[0] == '-') return UsageError("unknown option '" + first + "'", nullptr);
    return UsageError("unknown command '" + first + "'", nullptr);
  }
  return RunCommand(*command, std::vector<std::string>(args.begin() + 1, args.end()));
}

}  // namespace tool

int main(int argc, char** argv) {
  return tool::Main(argc, argv);
}
