// spi-capture: inspects, checks, exports, cuts, repairs, joins and follows
// capture files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "platform.h"
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
       "counts, lengths and integrity of captures",
       "info FILE... [--json]\n"
       "Prints the number of records, frame bytes, frame lengths (min, max, mean,\n"
       "power-of-two histogram), the file size, and where any damage starts.\n"
       "  --json  one JSON object per line per file: file, size, records,\n"
       "          frame_bytes, min_length, max_length, damaged, and when damaged\n"
       "          damage_offset, damage_record, damage_reason\n"
       "Exits 1 if a file is damaged.\n",
       {{"--json"}},
       1,
       0,
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
       "dump FILE [--from N] [--count K] [--hex] [--fields TEXT | --layout FILE]\n"
       "          [--byte1 N[,M...]]\n"
       "One line per record: index, offset, frame length, byte 1, first 16 bytes.\n"
       "  --from N   start at record N (0-based)\n"
       "  --count K  list at most K records\n"
       "  --hex      add a hex dump of each whole frame\n"
       "  --fields TEXT, --layout FILE  a frame layout (see export): each line\n"
       "             shows NAME=VALUE for its fields in place of the bytes; an\n"
       "             array shows its first 4 values and '... (COUNT values)'.\n"
       "             Records too short for the layout are counted, not listed,\n"
       "             and make the exit status 1.\n"
       "  --byte1 N[,M...]  list only records whose byte 1 is one of N, M, ...\n"
       "             (0..255, decimal or 0x hex); says how many it left out\n",
       {{"--from", "N"},
        {"--count", "K"},
        {"--hex"},
        {"--fields", "TEXT", OptionRule::kNotWith, "--layout"},
        {"--layout", "FILE"},
        {"--byte1", "N[,M...]"}},
       1,
       1,
       RunDump},
      {"export",
       "writes the frames as CSV, raw bytes or files",
       "export FILE --format csv|raw|frames -o OUT [--frame-size N] [--force]\n"
       "       [--fields TEXT | --layout FILE] [--byte1 N[,M...]]\n"
       "  csv     one row per record: index,offset,length,byte1,payload_hex\n"
       "          (payload_hex is the whole frame as sent)\n"
       "  raw     the frames back to back, as the master sent them\n"
       "  frames  OUT is a directory: one file per frame, frame_000000.bin, ...\n"
       "          An existing directory must be empty; --force deletes the frame\n"
       "          files of an earlier export in it first (names of six digits, no\n"
       "          larger than a frame), listing each, and refuses if such a name\n"
       "          holds anything else. A failed export deletes the files it wrote.\n"
       "  --frame-size N  a record whose frame length is a multiple of N holds\n"
       "          that many frames of N bytes: split them apart (CSV gains a\n"
       "          record column). Other records are reported and kept whole;\n"
       "          with --fields they are split too, the shorter last piece a\n"
       "          frame of its own (a row if it holds the layout).\n"
       "  --fields TEXT  with csv: one column per named field of the frame in\n"
       "          place of length,byte1,payload_hex. TEXT is NAME=TYPE@OFFSET or\n"
       "          NAME=TYPE@OFFSET[COUNT] (an array: columns NAME[0]...), joined\n"
       "          by ','; TYPE is u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with le\n"
       "          (the default) or be; OFFSET counts from the 'J' (byte 0),\n"
       "          decimal or 0x hex. Columns: index (with --frame-size also\n"
       "          record,offset), then the fields. Frames too short for the\n"
       "          layout get no row: one line says how many, and the exit\n"
       "          status is 1.\n"
       "  --layout FILE  the same from a file: one field per line, # comments\n"
       "  --byte1 N[,M...]  export only frames whose byte 1 is one of N, M, ...\n"
       "          (0..255, decimal or 0x hex); with --frame-size it is each\n"
       "          frame's byte 1. The summary says how many were left out.\n"
       "A damaged capture exports the records before the damage and exits 1.\n",
       {{"--format", "csv|raw|frames", OptionRule::kRequired},
        {"-o", "OUT", OptionRule::kRequired},
        {"--frame-size", "N"},
        {"--force"},
        {"--fields", "TEXT", OptionRule::kNotWith, "--layout"},
        {"--layout", "FILE"},
        {"--byte1", "N[,M...]"}},
       1,
       1,
       RunExport},
      {"repair",
       "keeps every record that damage did not touch",
       "repair FILE -o OUT [--truncate]\n"
       "repair FILE --in-place [--force] [--truncate]\n"
       "Keeps every record it can trust: after damage it finds where whole\n"
       "records resume and goes on from there. Prints each dropped byte range\n"
       "and a summary. --truncate keeps only the records before the first\n"
       "damage. --in-place keeps the original as FILE.bak and refuses to replace\n"
       "an existing backup unless --force is given. The result is written under\n"
       "a temporary name and renamed, so it is never left half-written.\n",
       {{"-o", "OUT", OptionRule::kEitherOr, "--in-place"},
        {"--in-place"},
        {"--force", nullptr, OptionRule::kOnlyWith, "--in-place"},
        {"--truncate"}},
       1,
       1,
       RunRepair},
      {"cat",
       "joins captures into one",
       "cat FILE... -o OUT [--skip-damaged]\n"
       "Writes the records of every FILE, in order, to OUT. Refuses, leaving\n"
       "nothing behind, if an input is damaged, unless --skip-damaged is given:\n"
       "then each damaged input contributes the records before its damage.\n",
       {{"-o", "OUT", OptionRule::kRequired}, {"--skip-damaged"}},
       1,
       0,
       RunCat},
      {"slice",
       "copies a range of records into a capture",
       "slice FILE --from N [--count K] -o OUT [--byte1 N[,M...]]\n"
       "Writes records N to N+K-1 (0-based; to the end without --count) to OUT,\n"
       "a capture of its own. Record N must exist: an empty selection (past the\n"
       "last record or past damage) is an error and writes nothing.\n"
       "  --byte1 N[,M...]  from record N on, write only records whose byte 1 is\n"
       "          one of N, M, ... (0..255, decimal or 0x hex); K counts the\n"
       "          records written. The summary says how many were left out.\n",
       {{"--from", "N", OptionRule::kRequired},
        {"--count", "K"},
        {"-o", "OUT", OptionRule::kRequired},
        {"--byte1", "N[,M...]"}},
       1,
       1,
       RunSlice},
      {"split",
       "cuts a capture into parts",
       "split FILE (--records N | --bytes B) -o PREFIX [--force]\n"
       "Writes PREFIX_00000.bin, PREFIX_00001.bin, ..., each a capture of at most\n"
       "N records or B bytes (a record larger than B gets a part of its own),\n"
       "never cutting a record: the parts joined in order equal FILE. Existing\n"
       "files under those names (PREFIX_ and five digits) are refused unless\n"
       "--force is given, which deletes them, listing each, when each is a whole\n"
       "capture (and refuses otherwise). A failed split deletes the parts it wrote.\n",
       {{"--records", "N", OptionRule::kEitherOr, "--bytes"},
        {"--bytes", "B"},
        {"-o", "PREFIX", OptionRule::kRequired},
        {"--force"}},
       1,
       1,
       RunSplit},
      {"check",
       "finds lost frames by the master's frame counter",
       "check FILE --counter OFFSET:WIDTH[:le|be] [--step S] [--frame-size N]\n"
       "      [--summary | --json] [--byte1 N[,M...]]\n"
       "check FILE --counter NAME (--fields TEXT | --layout FILE) [...]\n"
       "Reads an unsigned counter of WIDTH bytes (1, 2, 4 or 8; little-endian\n"
       "unless be) at byte OFFSET of every frame and expects each to be the one\n"
       "before plus S (default 1), wrapping around. Prints every gap and\n"
       "'frames N, missing M (P %)'. --frame-size splits records into frames of\n"
       "N bytes and a trailing fragment (a frame cut off by a full buffer).\n"
       "--summary prints only the last line, --json one object with the totals.\n"
       "  --counter NAME  with a layout (--fields or --layout, as for export):\n"
       "          the counter is that field, an integer scalar; its width and\n"
       "          byte order come from its type.\n"
       "  --byte1 N[,M...]  check only frames whose byte 1 is one of N, M, ...\n"
       "          (0..255, decimal or 0x hex; with --frame-size each frame's):\n"
       "          the counter runs over those alone, as a master that counts\n"
       "          each message type apart needs. Says how many were left out.\n"
       "Exits 1 when frames are missing, the counter jumps otherwise, a frame\n"
       "is too short to hold it, or a record ends in a fragment.\n",
       {{"--counter", "OFFSET:WIDTH[:le|be]|NAME", OptionRule::kRequired},
        {"--step", "S"},
        {"--frame-size", "N"},
        {"--summary", nullptr, OptionRule::kNotWith, "--json"},
        {"--json"},
        {"--fields", "TEXT", OptionRule::kNotWith, "--layout"},
        {"--layout", "FILE"},
        {"--byte1", "N[,M...]"}},
       1,
       1,
       RunCheck},
      {"follow",
       "prints the records of a capture being written",
       "follow FILE [--format capture|raw|csv] [-o OUT|-] [--idle-exit SECONDS]\n"
       "            [--frame-size N] [--byte1 N[,M...]]\n"
       "Gives out every whole record as it lands in FILE, on standard output\n"
       "unless -o is given, waiting out a record still being written. A FILE\n"
       "that does not exist yet is waited for (so follow can start first).\n"
       "--frame-size splits records into frames as export does (raw and csv).\n"
       "Ends with status 0 on Ctrl+C or SIGTERM, or after SECONDS without\n"
       "growth; a file that shrinks, or does not appear within SECONDS, ends it\n"
       "with status 1. In capture format (the default) the output is byte for\n"
       "byte the capture as written.\n"
       "--byte1 N[,M...] gives out only the records (with --frame-size, frames)\n"
       "whose byte 1 is one of N, M, ... (0..255, decimal or 0x hex); the\n"
       "closing line says how many were left out.\n",
       {{"--format", "capture|raw|csv"},
        {"-o", "OUT"},
        {"--idle-exit", "SECONDS"},
        {"--frame-size", "N"},
        {"--byte1", "N[,M...]"}},
       1,
       1,
       RunFollow},
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
               "Inspects, checks, cuts and repairs capture files of the SPI receiver.\n"
               "A FILE of '-' is standard input, -o - standard output; -o OUT is also\n"
               "--output OUT.\n\ncommands:\n");
  for (const Command& command : Commands()) std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(out,
               "\nexit status: 0 success, 1 damaged file or I/O error, 2 usage error,\n"
               "3 standard output could not be written\n");
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
  if (!ParseArgs(args, command.options, &parsed, &error) ||
      !CheckOptionRules(parsed, command.options, &error)) {
    return UsageError(std::string(command.name) + ": " + error, command.name);
  }
  const size_t files = parsed.positional.size();
  size_t fromStdin = 0;
  for (const std::string& file : parsed.positional) fromStdin += file == "-" ? 1 : 0;
  if (fromStdin > 1) {
    return UsageError(std::string(command.name) + ": standard input ('-') can be read only once",
                      command.name);
  }
  if (files < command.minFiles) return UsageError(std::string(command.name) + ": missing FILE", command.name);
  if (command.maxFiles != 0 && files > command.maxFiles) {
    return UsageError(std::string(command.name) + ": unexpected argument '" + parsed.positional.back() + "'",
                      command.name);
  }
  const int status = command.run(parsed);
  if (status == kExitUsage) std::fprintf(stderr, "Try 'spi-capture help %s'.\n", command.name);
  return status;
}

int Dispatch(const std::vector<std::string>& args) {
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
    if (command == nullptr) return UsageError("help: unknown command '" + args[1] + "'", nullptr);
    if (args.size() > 2) return UsageError("help: unexpected argument '" + args[2] + "'", nullptr);
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

}  // namespace

int Main(int argc, char** argv) {
  // Names in UTF-8 whatever the system's code page; on Windows *.cap is
  // expanded here, as cmd does not.
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv, true);
  platform::UseUtf8Console();
  const int status = Dispatch(args);
  // Whatever went to standard output (help, a listing, data) must have
  // arrived: a lost result has a status of its own, so that a script never
  // reads it as success or as "frames missing".
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const std::string reason = errno != 0 ? ": " + platform::ErrorText(errno) : std::string();
    ReportError("cannot write standard output" + reason);
    return kExitOutput;
  }
  return status;
}

}  // namespace tool

int main(int argc, char** argv) {
  return tool::Main(argc, argv);
}
