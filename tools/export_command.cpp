// spi-capture export: frames out of a capture as CSV, raw bytes, or one file
// per frame, optionally split back into the master's frames. A damaged
// capture exports its valid records and exits 1.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_reader.h"
#include "commands.h"
#include "frame_split.h"
#include "input_file.h"
#include "numbered_files.h"
#include "output_file.h"
#include "platform.h"
#include "progress.h"
#include "record_output.h"

namespace tool {

namespace {

namespace fs = std::filesystem;

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

NumberedFiles FrameFilesIn(const std::string& dir) {
  NumberedFiles files;
  files.prefix = (fs::u8path(dir) / "frame_").u8string();
  return files;
}

// Makes dir ready for frame files: created when missing. An existing
// directory must be empty, so old frames never mix with new ones, unless
// force is given: then its frame files are deleted first (other files stay).
bool PrepareFrameDir(const std::string& dir, bool force, std::string* error) {
  std::error_code code;
  const fs::path path = fs::u8path(dir);
  if (!fs::exists(path, code)) {
    fs::create_directories(path, code);
    if (code) *error = "cannot create directory: " + code.message();
    return !code;
  }
  if (!fs::is_directory(path, code)) {
    *error = "exists and is not a directory";
    return false;
  }
  if (!force) {
    if (fs::directory_iterator(path, code) == fs::directory_iterator() && !code) return true;
    *error = code ? "cannot list directory: " + code.message()
                  : "is not empty; --force deletes the frame files in it first";
    return false;
  }
  std::vector<std::string> old;
  return FindNumberedFiles(FrameFilesIn(dir), &old, error) && DeleteNumberedFiles(old, error);
}

// Each frame file is written aside and renamed, so a crash never leaves half
// a frame; the directory is synced to the disk once, at the end.
bool WriteFrameFile(const NumberedFiles& files, uint64_t number, const std::vector<uint8_t>& frame,
                    std::string* error) {
  OutputFile out;
  if (!CreateOutputFile(NumberedPath(files, number, files.baseWidth), &out, error)) return false;
  out.sync = false;
  if (!WriteOutput(&out, frame.data(), frame.size(), error) || !CommitOutputFile(&out, error)) {
    AbandonOutputFile(&out);
    return false;
  }
  return true;
}

// Where one frame of the export goes.
struct Sink {
  Format format = Format::kRaw;
  bool split = false;  // --frame-size given: CSV rows name the record too
  OutputFile* out = nullptr;
  const NumberedFiles* files = nullptr;
  std::string line;
  std::vector<uint8_t> frame;
};

// Frame `number` of the export: bytes [begin, end) of the record's frame.
bool ExportFrame(Sink* sink, const capture::CaptureRecordView& record, uint64_t number, size_t begin,
                 size_t end, std::string* error) {
  if (sink->format == Format::kRaw && begin == 0 && end == capture::ViewFrameLength(record)) {
    return WriteRawFrame(sink->out, record, error);
  }
  sink->frame.clear();
  capture::AppendViewFrame(record, begin, end, &sink->frame);
  if (sink->format == Format::kRaw)
    return WriteOutput(sink->out, sink->frame.data(), sink->frame.size(), error);
  if (sink->format == Format::kFrames) return WriteFrameFile(*sink->files, number, sink->frame, error);
  if (sink->split) {
    FormatCsvRow(sink->frame, number, static_cast<int64_t>(record.index), record.offset, &sink->line);
  } else {
    FormatCsvRow(sink->frame, record.index, -1, record.offset, &sink->line);
  }
  return WriteOutput(sink->out, sink->line.data(), sink->line.size(), error);
}

enum class CopyResult { kWhole, kDamaged, kFailed };

struct CopyCount {
  uint64_t records = 0;
  uint64_t frames = 0;
  uint64_t keptWhole = 0;  // records not a multiple of the frame size
};

// Exports every record up to the first damage and reports any problem.
CopyResult ExportRecords(const std::string& path, capture::CaptureReader* reader, size_t frameSize,
                         Sink* sink, const std::string& outName, CopyCount* count) {
  std::string error;
  Progress progress;
  StartProgress(&progress, "export " + InputName(path), KnownInputSize(reader->file),
                sink->out != nullptr && sink->out->toStdout);
  capture::CaptureRecordView record;
  capture::ReadOutcome outcome;
  while ((outcome = capture::ReadCaptureRecordView(reader, &record)) == capture::ReadOutcome::kRecord) {
    const FrameSplit split = SplitRecord(capture::ViewFrameLength(record), frameSize);
    if (split.whole) {
      ClearProgress(&progress);
      ReportWholeRecord(InputName(path), record, frameSize);
      ++count->keptWhole;
    }
    for (size_t i = 0; i < split.count; ++i) {
      if (!ExportFrame(sink, record, count->frames, i * split.size, (i + 1) * split.size, &error)) {
        EndProgress(&progress);
        ReportFileError(outName, error);
        return CopyResult::kFailed;
      }
      ++count->frames;
    }
    ++count->records;
    UpdateProgress(&progress, reader->offset);
  }
  EndProgress(&progress);
  if (outcome == capture::ReadOutcome::kEnd) return CopyResult::kWhole;
  ReportFileError(InputName(path), capture::FormatDamage(reader->damage));
  if (reader->damage.kind == capture::DamageKind::kReadError) return CopyResult::kFailed;
  ReportFileError(InputName(path),
                  "exported the " + Counted(count->records, "record") + " before the damage");
  return CopyResult::kDamaged;
}

std::string Exported(const CopyCount& count, size_t frameSize, const char* frameNoun) {
  if (frameSize == 0) return Counted(count.records, frameNoun);
  return Counted(count.frames, frameNoun) + " from " + Counted(count.records, "record");
}

const char* FileNoun(Format format, size_t frameSize) {
  if (format == Format::kFrames) return "frame file";
  return frameSize == 0 ? "record" : "frame";
}

int ExportToFile(const std::string& path, Format format, size_t frameSize, const std::string& outPath) {
  capture::CaptureReader reader;
  OutputFile out;
  if (!OpenCaptureCopy(path, outPath, &reader, &out)) return kExitFailed;
  std::string error;
  Sink sink;
  sink.format = format;
  sink.split = frameSize != 0;
  sink.out = &out;
  const std::string header = sink.split ? kSplitCsvHeader : kCsvHeader;
  CopyCount count;
  CopyResult result = CopyResult::kFailed;
  if (format != Format::kCsv || WriteOutput(&out, header.data(), header.size(), &error)) {
    result = ExportRecords(path, &reader, frameSize, &sink, OutputName(out), &count);
  } else {
    ReportFileError(OutputName(out), error);
  }
  capture::CloseCaptureReader(&reader);
  // A damaged capture still yields its valid records; a failed read or
  // write leaves nothing behind.
  if (result == CopyResult::kFailed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::fprintf(MessageStream(out), "%s: %s\n", OutputName(out).c_str(),
               Exported(count, frameSize, FileNoun(format, frameSize)).c_str());
  return result == CopyResult::kWhole ? kExitOk : kExitFailed;
}

int ExportToFrameFiles(const std::string& path, size_t frameSize, const std::string& dir, bool force) {
  std::string error;
  if (!PrepareFrameDir(dir, force, &error)) {
    ReportFileError(dir, error);
    return kExitFailed;
  }
  capture::CaptureReader reader;
  if (!OpenCaptureInput(path, &reader, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  const NumberedFiles files = FrameFilesIn(dir);
  Sink sink;
  sink.format = Format::kFrames;
  sink.files = &files;
  CopyCount count;
  const CopyResult result = ExportRecords(path, &reader, frameSize, &sink, dir, &count);
  capture::CloseCaptureReader(&reader);
  if (result == CopyResult::kFailed) return kExitFailed;
  if (!WidenNumberedNames(files, count.frames, &error)) {
    ReportFileError(dir, error);
    return kExitFailed;
  }
  if (!platform::SyncDirectoryFiles(dir, &error)) {
    ReportFileError(dir, "cannot sync the frame files to the disk: " + error);
    return kExitFailed;
  }
  std::printf("%s: %s\n", dir.c_str(),
              Exported(count, frameSize, FileNoun(Format::kFrames, frameSize)).c_str());
  return result == CopyResult::kWhole ? kExitOk : kExitFailed;
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
  size_t frameSize = 0;
  if (!FrameSizeOption(args, "export", &frameSize)) return kExitUsage;
  const std::string& path = args.positional[0];
  const std::string& out = args.values.at("-o");
  const bool force = HasOption(args, "--force");
  if (format == Format::kFrames) {
    if (IsStdio(out)) {
      ReportError("export: --format frames writes a directory, not standard output");
      return kExitUsage;
    }
    if (IsNumberedFile(FrameFilesIn(out), path)) return RefuseOutputIsInput(out);
    return ExportToFrameFiles(path, frameSize, out, force);
  }
  if (force) {
    ReportError("export: --force goes with --format frames");
    return kExitUsage;
  }
  if (OutputIsInput(out, {path})) return RefuseOutputIsInput(out);
  return ExportToFile(path, format, frameSize, out);
}

}  // namespace tool
