// spi-capture export: frames out of a capture as CSV, raw bytes, or one file
// per frame. A damaged capture exports its valid records and exits 1.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_reader.h"
#include "commands.h"
#include "output_file.h"

namespace tool {

namespace {

enum class Format { kCsv, kRaw, kFrames };

bool ParseFormat(const std::string& text, Format* format) {
  if (text == "csv") {
    *format = Format::kCsv;
  } else if (text == "raw") {
    *format = Format::kRaw;
  } else if (text == "frames") {
    *format = Format::kFrames;
  } else {
    return false;
  }
  return true;
}

void AppendHex(const std::vector<uint8_t>& bytes, std::string* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (uint8_t byte : bytes) {
    out->push_back(kDigits[byte >> 4]);
    out->push_back(kDigits[byte & 0xf]);
  }
}

// The line for one record: index,offset,length,byte1,payload_hex.
void FormatCsvLine(const capture::CaptureRecord& record, std::string* line) {
  char fields[80];
  std::snprintf(fields, sizeof fields, "%" PRIu64 ",%" PRIu64 ",%zu,%02x,", record.index, record.offset,
                record.frame.size(), record.frame[1]);
  *line = fields;
  AppendHex(record.frame, line);
  line->push_back('\n');
}

enum class CopyResult { kWhole, kDamaged, kFailed };

// Copies the records into out as CSV or raw bytes, up to the first damage,
// and reports any problem.
CopyResult ExportToFile(const std::string& path, capture::CaptureReader* reader, Format format,
                        OutputFile* out) {
  std::string error;
  std::string line;
  if (format == Format::kCsv) {
    line = "index,offset,length,byte1,payload_hex\n";
    if (!WriteOutput(out, line.data(), line.size(), &error)) {
      ReportFileError(out->path, error);
      return CopyResult::kFailed;
    }
  }
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(reader, &record)) == capture::ReadOutcome::kRecord) {
    bool written;
    if (format == Format::kCsv) {
      FormatCsvLine(record, &line);
      written = WriteOutput(out, line.data(), line.size(), &error);
    } else {
      written = WriteOutput(out, record.frame.data(), record.frame.size(), &error);
    }
    if (!written) {
      ReportFileError(out->path, error);
      return CopyResult::kFailed;
    }
  }
  if (outcome == capture::ReadOutcome::kEnd) return CopyResult::kWhole;
  ReportFileError(path, capture::FormatDamage(reader->damage));
  if (reader->damage.kind == capture::DamageKind::kReadError) return CopyResult::kFailed;
  ReportFileError(path, "exported the " + std::to_string(reader->index) + " records before the damage");
  return CopyResult::kDamaged;
}

int ExportCsvOrRaw(const std::string& path, Format format, const std::string& outPath) {
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  OutputFile out;
  if (!CreateOutputFile(outPath, &out, &error)) {
    capture::CloseCaptureReader(&reader);
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  const CopyResult result = ExportToFile(path, &reader, format, &out);
  capture::CloseCaptureReader(&reader);
  // A damaged capture still yields its valid records; a failed read or
  // write leaves nothing behind.
  if (result == CopyResult::kFailed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  std::printf("%s: %" PRIu64 " records\n", outPath.c_str(), reader.index);
  return result == CopyResult::kWhole ? kExitOk : kExitFailed;
}

int CountDigits(uint64_t value) {
  int digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  OutputFile out;
  if (!CreateOutputFile(path, &out, error)) return false;
  if (!WriteOutput(&out, bytes.data(), bytes.size(), error) || !CommitOutputFile(&out, error)) {
    AbandonOutputFile(&out);
    return false;
  }
  return true;
}

int ExportFrames(const std::string& path, const std::string& dir) {
  // A first pass counts the records, so every name gets the same width.
  capture::CaptureReader reader;
  std::string error;
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  capture::CaptureRecord record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecord(&reader, &record)) == capture::ReadOutcome::kRecord) {
  }
  const uint64_t records = reader.index;
  const capture::Damage damage = reader.damage;
  capture::CloseCaptureReader(&reader);
  const int digits = std::max(6, CountDigits(records == 0 ? 0 : records - 1));

  std::error_code code;
  std::filesystem::create_directories(dir, code);
  if (code) {
    ReportFileError(dir, "cannot create directory: " + code.message());
    return kExitFailed;
  }
  if (!capture::OpenCaptureReader(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  int status = kExitOk;
  while (reader.index < records) {
    if (capture::ReadCaptureRecord(&reader, &record) != capture::ReadOutcome::kRecord) {
      // The file changed between the passes.
      ReportFileError(path, capture::FormatDamage(reader.damage));
      status = kExitFailed;
      break;
    }
    char name[40];
    std::snprintf(name, sizeof name, "frame_%0*" PRIu64 ".bin", digits, record.index);
    const std::string framePath = (std::filesystem::path(dir) / name).string();
    if (!WriteWholeFile(framePath, record.frame, &error)) {
      ReportFileError(framePath, error);
      status = kExitFailed;
      break;
    }
  }
  capture::CloseCaptureReader(&reader);
  if (status == kExitOk) std::printf("%s: %" PRIu64 " frame files\n", dir.c_str(), records);
  if (status == kExitOk && outcome == capture::ReadOutcome::kDamage) {
    ReportFileError(path, capture::FormatDamage(damage));
    ReportFileError(path, "exported the " + std::to_string(records) + " records before the damage");
    status = kExitFailed;
  }
  return status;
}

}  // namespace

int RunExport(const ParsedArgs& args) {
  Format format;
  if (!HasOption(args, "--format") || !HasOption(args, "-o")) {
    ReportError("export: needs --format csv|raw|frames and -o OUT");
    return kExitUsage;
  }
  if (!ParseFormat(args.values.at("--format"), &format)) {
    ReportError("export: unknown format '" + args.values.at("--format") + "' (csv, raw or frames)");
    return kExitUsage;
  }
  const std::string& path = args.positional[0];
  const std::string& out = args.values.at("-o");
  if (format == Format::kFrames) return ExportFrames(path, out);
  if (SameFile(path, out)) {
    ReportFileError(out, "is the input; choose another output");
    return kExitFailed;
  }
  return ExportCsvOrRaw(path, format, out);
}

}  // namespace tool
