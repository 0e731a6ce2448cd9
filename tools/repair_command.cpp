// spi-capture repair: keeps every record that can be trusted and drops the
// damaged bytes, into a new file or in place with a backup. --truncate keeps
// only the records before the first damage.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_reader.h"
#include "capture_recovery.h"
#include "commands.h"
#include "input_file.h"
#include "output_file.h"
#include "progress.h"
#include "record_walk.h"

namespace tool {

namespace {

struct Salvage {
  uint64_t records = 0;
  uint64_t bytes = 0;           // bytes kept
  uint64_t dropped = 0;         // bytes dropped
  uint64_t ranges = 0;          // dropped ranges
  capture::Damage firstDamage;  // for --truncate: kind kNone when whole
};

// Everything before the first damage (--truncate, and the check whether a
// file needs repair at all).
bool SalvagePrefix(const std::string& path, OutputFile* out, Salvage* salvage) {
  WalkOptions options = ReadingFor("repair", out != nullptr && out->toStdout);
  options.quietDamage = true;  // it is what repair reports
  std::string error;
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, options,
      [&](RecordWalk*, const capture::CaptureRecordView& record) {
        if (out == nullptr || WriteOutput(out, record.bytes, record.size, &error)) return RecordStep::kNext;
        ReportFileError(OutputName(*out), error);
        return RecordStep::kFail;
      },
      &walk);
  salvage->records = walk.records;
  salvage->bytes = walk.validBytes;
  salvage->firstDamage = walk.damage;
  if (end == WalkEnd::kDamage) {
    salvage->dropped = walk.size - walk.validBytes;  // the rest of the input
    salvage->ranges = 1;
  }
  return end != WalkEnd::kFailed;
}

// Every record the recovery scan trusts; prints each dropped range.
bool SalvageAll(const std::string& path, OutputFile* out, std::FILE* messages, Salvage* salvage) {
  std::string error;
  std::FILE* file = OpenInput(path, &error);
  if (file == nullptr) {
    ReportError(error);
    return false;
  }
  Progress progress;
  StartProgress(&progress, "repair " + InputName(path), KnownInputSize(file), out->toStdout);
  capture::RecoveryScanner scanner;
  capture::AttachRecoveryScanner(file, &scanner);
  capture::CaptureRecordView record;
  capture::DroppedRange dropped;
  bool ok = true;
  for (;;) {
    const capture::RecoveryEvent event = capture::NextRecovered(&scanner, &record, &dropped);
    if (event == capture::RecoveryEvent::kEnd) break;
    if (event == capture::RecoveryEvent::kReadError) {
      EndProgress(&progress);
      ReportFileError(InputName(path), dropped.reason);
      ok = false;
      break;
    }
    if (event == capture::RecoveryEvent::kDropped) {
      capture::Damage where;
      where.offset = dropped.offset;
      where.index = dropped.record;
      where.message = "dropped " + Counted(dropped.length, "byte") + ": " + dropped.reason;
      ClearProgress(&progress);
      std::fprintf(messages, "%s: %s\n", InputName(path).c_str(), capture::FormatDamage(where).c_str());
      salvage->dropped += dropped.length;
      ++salvage->ranges;
      continue;
    }
    if (!WriteOutput(out, record.bytes, record.size, &error)) {
      EndProgress(&progress);
      ReportFileError(OutputName(*out), error);
      ok = false;
      break;
    }
    ++salvage->records;
    salvage->bytes += record.size;
    UpdateProgress(&progress, record.offset + record.size);
  }
  EndProgress(&progress);
  capture::CloseRecoveryScanner(&scanner);
  return ok;
}

bool Salvaged(const std::string& path, bool truncate, OutputFile* out, Salvage* salvage) {
  if (truncate) return SalvagePrefix(path, out, salvage);
  return SalvageAll(path, out, MessageStream(*out), salvage);
}

void PrintOutcome(std::FILE* messages, const std::string& path, bool truncate, const Salvage& salvage) {
  const std::string kept = Counted(salvage.records, "record") + " (" + Counted(salvage.bytes, "byte") + ")";
  if (truncate) {
    std::fprintf(messages, "%s: kept %s; dropped %s from offset %" PRIu64 ": %s\n", InputName(path).c_str(),
                 kept.c_str(), Counted(salvage.dropped, "byte").c_str(), salvage.bytes,
                 salvage.firstDamage.message.c_str());
  } else {
    std::fprintf(messages, "%s: kept %s; dropped %s in %s\n", InputName(path).c_str(), kept.c_str(),
                 Counted(salvage.dropped, "byte").c_str(), Counted(salvage.ranges, "range").c_str());
  }
}

// Input that held bytes but no record: there is nothing to write, and an
// empty capture would pass for a repaired one. Says so.
bool NothingRecovered(const std::string& path, const Salvage& salvage) {
  if (salvage.records > 0 || salvage.dropped == 0) return false;
  ReportFileError(InputName(path),
                  "no record found in " + Counted(salvage.dropped, "byte") + "; nothing recovered");
  return true;
}

// Puts a copy of path under backup, replacing whatever is there. A hard
// link costs nothing; a copy serves file systems without links.
bool MakeBackup(const std::string& path, const std::string& backup, std::string* error) {
  const std::filesystem::path temp = std::filesystem::u8path(backup + ".tmp");
  const std::filesystem::path from = std::filesystem::u8path(path);
  std::error_code code;
  std::filesystem::remove(temp, code);
  std::filesystem::create_hard_link(from, temp, code);
  if (code) std::filesystem::copy_file(from, temp, code);
  if (!code) std::filesystem::rename(temp, std::filesystem::u8path(backup), code);
  if (code) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    *error = "cannot make backup " + backup + ": " + code.message();
    return false;
  }
  return true;
}

int RepairToFile(const std::string& path, bool truncate, const std::string& outPath) {
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  Salvage salvage;
  if (!Salvaged(path, truncate, &out, &salvage)) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (NothingRecovered(path, salvage)) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::FILE* messages = MessageStream(out);
  if (salvage.dropped == 0) {
    std::fprintf(messages, "%s: nothing to repair; copied %s (%s) to %s\n", InputName(path).c_str(),
                 Counted(salvage.records, "record").c_str(), Counted(salvage.bytes, "byte").c_str(),
                 OutputName(out).c_str());
  } else {
    PrintOutcome(messages, path, truncate, salvage);
  }
  return kExitOk;
}

int RepairInPlace(const std::string& path, bool truncate, bool force) {
  // A whole file is left alone: no backup, no rewrite.
  Salvage check;
  if (!SalvagePrefix(path, nullptr, &check)) return kExitFailed;
  if (check.firstDamage.kind == capture::DamageKind::kNone) {
    std::printf("%s: nothing to repair (%s, %s)\n", path.c_str(), Counted(check.records, "record").c_str(),
                Counted(check.bytes, "byte").c_str());
    return kExitOk;
  }
  const std::string backup = path + ".bak";
  std::error_code code;
  if (!force && std::filesystem::exists(std::filesystem::u8path(backup), code)) {
    ReportFileError(backup, "exists; remove it or pass --force to replace it");
    return kExitFailed;
  }
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(path, &out, &error)) {
    ReportFileError(path, error);
    return kExitFailed;
  }
  Salvage salvage;
  if (!Salvaged(path, truncate, &out, &salvage) || NothingRecovered(path, salvage)) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  // The backup is complete before the repaired file takes the name, so at
  // every moment one of them holds the original.
  if (!CloseOutputFile(&out, &error) || !MakeBackup(path, backup, &error) ||
      !CommitOutputFile(&out, &error)) {
    ReportFileError(path, error);
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  PrintOutcome(stdout, path, truncate, salvage);
  std::printf("%s: the original is kept as %s\n", path.c_str(), backup.c_str());
  return kExitOk;
}

}  // namespace

int RunRepair(const ParsedArgs& args) {
  const bool inPlace = HasOption(args, "--in-place");
  const std::string& path = args.positional[0];
  const bool truncate = HasOption(args, "--truncate");
  if (inPlace) {
    if (IsStdio(path)) {
      ReportError("repair: --in-place needs a file, not standard input");
      return kExitUsage;
    }
    return RepairInPlace(path, truncate, HasOption(args, "--force"));
  }
  const std::string& out = args.values.at("-o");
  if (OutputIsInput(out, {path})) {
    ReportFileError(out, "is the input; use --in-place to repair a file where it is");
    return kExitUsage;
  }
  return RepairToFile(path, truncate, out);
}

}  // namespace tool
