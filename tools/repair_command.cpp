// spi-capture repair: keeps the whole records before the first damage and
// drops the rest, into a new file or in place with a backup.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_encoder.h"
#include "capture_reader.h"
#include "commands.h"
#include "output_file.h"

namespace tool {

namespace {

struct Salvage {
  uint64_t records = 0;
  uint64_t bytes = 0;      // bytes kept, i.e. the offset of the damage
  capture::Damage damage;  // kind kNone when the file was whole
};

// Copies the valid records of path into out (when out is not null).
bool SalvageRecords(const std::string& path, OutputFile* out, Salvage* salvage) {
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return false;
  }
  capture::CaptureRecord record;
  std::vector<uint8_t> encoded;
  bool ok = true;
  while (ok && capture::ReadCaptureRecord(&reader, &record) == capture::ReadOutcome::kRecord) {
    if (out == nullptr) continue;
    encoded.clear();
    ok = capture::EncodeCaptureRecord(record.frame.data(), record.frame.size(), &encoded, &error) &&
         WriteOutput(out, encoded.data(), encoded.size(), &error);
    if (!ok) ReportFileError(out->path, error);
  }
  salvage->records = reader.index;
  salvage->bytes = reader.offset;
  salvage->damage = reader.damage;
  capture::CloseCaptureReader(&reader);
  if (ok && salvage->damage.kind == capture::DamageKind::kReadError) {
    ReportFileError(path, capture::FormatDamage(salvage->damage));
    ok = false;
  }
  return ok;
}

uintmax_t FileSize(const std::string& path) {
  std::error_code code;
  const uintmax_t size = std::filesystem::file_size(path, code);
  return code ? 0 : size;
}

void PrintOutcome(const std::string& path, uintmax_t fileSize, const Salvage& salvage) {
  const uintmax_t dropped = fileSize > salvage.bytes ? fileSize - salvage.bytes : 0;
  std::printf(
      "%s: kept %" PRIu64 " records (%" PRIu64 " bytes); dropped %ju bytes from offset %" PRIu64 ": %s\n",
      path.c_str(), salvage.records, salvage.bytes, dropped, salvage.bytes, salvage.damage.message.c_str());
}

// Puts a copy of path under backup, replacing whatever is there. A hard
// link costs nothing; a copy serves file systems without links.
bool MakeBackup(const std::string& path, const std::string& backup, std::string* error) {
  const std::string temp = backup + ".tmp";
  std::error_code code;
  std::filesystem::remove(temp, code);
  std::filesystem::create_hard_link(path, temp, code);
  if (code) std::filesystem::copy_file(path, temp, code);
  if (!code) std::filesystem::rename(temp, backup, code);
  if (code) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    *error = "cannot make backup " + backup + ": " + code.message();
    return false;
  }
  return true;
}

int RepairToFile(const std::string& path, const std::string& outPath) {
  if (SameFile(path, outPath)) {
    ReportFileError(outPath, "is the input; use --in-place to repair a file where it is");
    return kExitFailed;
  }
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  Salvage salvage;
  if (!SalvageRecords(path, &out, &salvage)) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  if (salvage.damage.kind == capture::DamageKind::kNone) {
    std::printf("%s: nothing to repair; copied %" PRIu64 " records (%" PRIu64 " bytes) to %s\n", path.c_str(),
                salvage.records, salvage.bytes, outPath.c_str());
  } else {
    PrintOutcome(path, FileSize(path), salvage);
  }
  return kExitOk;
}

int RepairInPlace(const std::string& path, bool force) {
  // A whole file is left alone: no backup, no rewrite.
  Salvage salvage;
  if (!SalvageRecords(path, nullptr, &salvage)) return kExitFailed;
  if (salvage.damage.kind == capture::DamageKind::kNone) {
    std::printf("%s: nothing to repair (%" PRIu64 " records, %" PRIu64 " bytes)\n", path.c_str(),
                salvage.records, salvage.bytes);
    return kExitOk;
  }
  const uintmax_t fileSize = FileSize(path);
  const std::string backup = path + ".bak";
  std::error_code code;
  if (!force && std::filesystem::exists(backup, code)) {
    ReportFileError(backup, "exists; remove it or pass --force to replace it");
    return kExitFailed;
  }
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(path, &out, &error)) {
    ReportFileError(path, error);
    return kExitFailed;
  }
  if (!SalvageRecords(path, &out, &salvage)) {
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
  PrintOutcome(path, fileSize, salvage);
  std::printf("%s: the original is kept as %s\n", path.c_str(), backup.c_str());
  return kExitOk;
}

}  // namespace

int RunRepair(const ParsedArgs& args) {
  const bool inPlace = HasOption(args, "--in-place");
  if (inPlace == HasOption(args, "-o")) {
    ReportError("repair: give exactly one of -o OUT and --in-place");
    return kExitUsage;
  }
  if (HasOption(args, "--force") && !inPlace) {
    ReportError("repair: --force goes with --in-place");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  if (inPlace) return RepairInPlace(path, HasOption(args, "--force"));
  return RepairToFile(path, args.values.at("-o"));
}

}  // namespace tool
