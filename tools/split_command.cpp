// spi-capture split: cuts a capture into parts PREFIX_00000.bin, ..., each a
// whole capture, never inside a record; the parts joined equal the input.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "commands.h"
#include "input_file.h"
#include "numbered_files.h"
#include "output_file.h"
#include "record_walk.h"

namespace tool {

namespace {

struct Limits {
  uint64_t records = std::numeric_limits<uint64_t>::max();
  uint64_t bytes = std::numeric_limits<uint64_t>::max();
};

struct Parts {
  NumberedFiles names;
  OutputFile out;
  bool open = false;
  uint64_t count = 0;      // parts started
  uint64_t committed = 0;  // parts complete under their names
  uint64_t records = 0;    // in the open part
  uint64_t bytes = 0;
};

bool StartPart(Parts* parts, std::string* error) {
  parts->records = 0;
  parts->bytes = 0;
  if (!CreateOutputFile(NumberedPath(parts->names, parts->count, parts->names.baseWidth), &parts->out,
                        error)) {
    return false;
  }
  parts->open = true;
  ++parts->count;
  return true;
}

bool FinishPart(Parts* parts, std::string* error) {
  if (!parts->open) return true;
  parts->open = false;
  if (!CommitOutputFile(&parts->out, error)) return false;
  ++parts->committed;
  return true;
}

// Whether the record of size `size` must start a new part.
bool StartsNewPart(const Parts& parts, const Limits& limits, size_t size) {
  if (!parts.open) return true;
  if (parts.records >= limits.records) return true;
  // A record larger than the limit gets a part of its own.
  return parts.records > 0 && parts.bytes + size > limits.bytes;
}

bool ParseLimits(const ParsedArgs& args, Limits* limits) {
  if (!CountOption(args, "split", "--records", &limits->records) ||
      !CountOption(args, "split", "--bytes", &limits->bytes)) {
    return false;
  }
  if (limits->records == 0 || limits->bytes == 0) {
    ReportError("split: parts must hold at least 1 record or byte");
    return false;
  }
  return true;
}

// Old parts under the names this split writes would mix with the new ones:
// refused, or with force deleted, but only when each is a whole capture of
// at least one record (what an earlier split wrote); anything else there is
// the user's, and so is the input under another name.
int ClearOldParts(const NumberedFiles& names, const std::string& input, bool force) {
  std::vector<std::string> old;
  std::string error;
  if (!FindNumberedFiles(names, &old, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (old.empty()) return kExitOk;
  if (!force) {
    ReportFileError(old.front(), "exists; --force deletes the old parts first");
    return kExitFailed;
  }
  for (const std::string& path : old) {
    if (OutputIsInput(path, {input})) return RefuseOutputIsInput(path);
    RecordWalk walk;
    if (WalkRecords(path, ReadingFor("split"), nullptr, &walk) != WalkEnd::kEnd || walk.records == 0) {
      ReportFileError(path, "is not a whole capture, so not an old part; --force deletes only those");
      return kExitFailed;
    }
  }
  if (!DeleteNumberedFiles(old, "old part", &error)) {
    ReportError(error);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int RunSplit(const ParsedArgs& args) {
  Limits limits;
  if (!ParseLimits(args, &limits)) return kExitUsage;
  const std::string& prefix = args.values.at("-o");
  if (IsStdio(prefix)) {
    ReportError("split: -o PREFIX is the start of the parts' names, not standard output");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  Parts parts;
  parts.names.prefix = prefix + "_";
  parts.names.baseWidth = 5;
  if (!IsStdio(path) && IsNumberedFile(parts.names, path)) return RefuseOutputIsInput(path);
  const int cleared = ClearOldParts(parts.names, path, HasOption(args, "--force"));
  if (cleared != kExitOk) return cleared;

  std::string error;
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, ReadingFor("split"),
      [&](RecordWalk* at, const capture::CaptureRecordView& record) {
        if ((StartsNewPart(parts, limits, record.size) &&
             (!FinishPart(&parts, &error) || !StartPart(&parts, &error))) ||
            !WriteOutput(&parts.out, record.bytes, record.size, &error)) {
          BeforeMessage(at);
          ReportFileError(parts.out.path, error);
          return RecordStep::kFail;
        }
        ++parts.records;
        parts.bytes += record.size;
        return RecordStep::kNext;
      },
      &walk);
  bool failed = end == WalkEnd::kFailed;
  if (!failed && !FinishPart(&parts, &error)) {
    ReportFileError(parts.out.path, error);
    failed = true;
  }
  if (failed) {
    // Half a set of parts is no result: what this run wrote goes again.
    if (parts.open) AbandonOutputFile(&parts.out);
    if (!RemoveWrittenFiles(parts.names, parts.committed, &error)) {
      ReportError(error);
      ReportError(prefix + ": the " + Counted(parts.committed, "part") +
                  " written before the failure may be left");
    } else if (parts.committed > 0) {
      ReportError(prefix + ": deleted the " + Counted(parts.committed, "part") + " this run wrote");
    }
    return kExitFailed;
  }
  if (!WidenNumberedNames(parts.names, parts.count, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%s: %s, %s\n", prefix.c_str(), Counted(parts.count, "part").c_str(),
              Counted(walk.records, "record").c_str());
  if (end == WalkEnd::kDamage) {
    ReportFileError(walk.name, "split the " + Counted(walk.records, "record") + " before the damage");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tool
