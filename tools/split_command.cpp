// spi-capture split: cuts a capture into parts PREFIX_00000.bin, ..., each a
// whole capture, never inside a record; the parts joined equal the input.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "numbered_files.h"
#include "output_file.h"
#include "progress.h"

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
  uint64_t count = 0;    // parts started
  uint64_t records = 0;  // in the open part
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
  return CommitOutputFile(&parts->out, error);
}

// Whether the record of size `size` must start a new part.
bool StartsNewPart(const Parts& parts, const Limits& limits, size_t size) {
  if (!parts.open) return true;
  if (parts.records >= limits.records) return true;
  // A record larger than the limit gets a part of its own.
  return parts.records > 0 && parts.bytes + size > limits.bytes;
}

bool ParseLimits(const ParsedArgs& args, Limits* limits) {
  if (HasOption(args, "--records") == HasOption(args, "--bytes")) {
    ReportError("split: give exactly one of --records N and --bytes B");
    return false;
  }
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

}  // namespace

int RunSplit(const ParsedArgs& args) {
  Limits limits;
  if (!ParseLimits(args, &limits)) return kExitUsage;
  if (!HasOption(args, "-o") || IsStdio(args.values.at("-o"))) {
    ReportError("split: needs -o PREFIX, the start of the parts' names");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  Parts parts;
  parts.names.prefix = args.values.at("-o") + "_";
  parts.names.baseWidth = 5;
  if (!IsStdio(path) && IsNumberedFile(parts.names, path)) return RefuseOutputIsInput(path);

  // Old parts would mix with the new ones.
  std::vector<std::string> old;
  std::string error;
  if (!FindNumberedFiles(parts.names, &old, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!old.empty() && !HasOption(args, "--force")) {
    ReportFileError(old.front(), "exists; --force deletes the old parts first");
    return kExitFailed;
  }
  if (!DeleteNumberedFiles(old, &error)) {
    ReportError(error);
    return kExitFailed;
  }

  capture::CaptureReader reader;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  Progress progress;
  StartProgress(&progress, "split " + InputName(path), KnownInputSize(reader.file), false);
  capture::CaptureRecordView record;
  capture::ReadOutcome outcome;
  bool failed = false;
  while ((outcome = capture::ReadCaptureRecordView(&reader, &record)) == capture::ReadOutcome::kRecord) {
    if (StartsNewPart(parts, limits, record.size) &&
        (!FinishPart(&parts, &error) || !StartPart(&parts, &error))) {
      failed = true;
      break;
    }
    if (!WriteOutput(&parts.out, record.bytes, record.size, &error)) {
      failed = true;
      break;
    }
    ++parts.records;
    parts.bytes += record.size;
    UpdateProgress(&progress, reader.offset);
  }
  EndProgress(&progress);
  const capture::Damage damage = reader.damage;
  const uint64_t records = reader.index;
  capture::CloseCaptureReader(&reader);
  if (!failed && !FinishPart(&parts, &error)) failed = true;
  if (failed) {
    ReportFileError(OutputName(parts.out), error);
    AbandonOutputFile(&parts.out);
    return kExitFailed;
  }
  if (!WidenNumberedNames(parts.names, parts.count, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%s: %s, %s\n", args.values.at("-o").c_str(), Counted(parts.count, "part").c_str(),
              Counted(records, "record").c_str());
  if (outcome == capture::ReadOutcome::kDamage) {
    ReportFileError(InputName(path), capture::FormatDamage(damage));
    ReportFileError(InputName(path), "split the " + Counted(records, "record") + " before the damage");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tool
