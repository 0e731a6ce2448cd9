// spi-capture export: frames out of a capture as CSV, raw bytes, or one file
// per frame, optionally split back into the master's frames. A damaged
// capture exports its valid records and exits 1.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "capture_format.h"
#include "commands.h"
#include "frame_split.h"
#include "input_file.h"
#include "numbered_files.h"
#include "output_file.h"
#include "platform.h"
#include "record_output.h"
#include "record_walk.h"

namespace tool {

namespace {

namespace fs = std::filesystem;

NumberedFiles FrameFilesIn(const std::string& dir) {
  NumberedFiles files;
  files.prefix = (fs::u8path(dir) / "frame_").u8string();
  return files;
}

// What an earlier export may have written: a plain file no larger than a
// frame. Anything else under a frame file's name is the user's.
bool LooksLikeFrameFile(const std::string& path) {
  std::error_code code;
  const uintmax_t size = fs::file_size(fs::u8path(path), code);
  return !code && size >= 1 && size <= capture::kMaxFrameLength;
}

// Makes dir ready for frame files: created when missing (*created then). An
// existing directory must be empty, so old frames never mix with new ones,
// unless force is given: then the frame files an earlier export left (the
// names this one writes) are deleted first, and other files stay. The
// input is never one of them. Returns the exit status so far.
int PrepareFrameDir(const std::string& dir, const std::string& input, bool force, bool* created) {
  std::error_code code;
  *created = false;
  const fs::path path = fs::u8path(dir);
  if (!fs::exists(path, code)) {
    fs::create_directories(path, code);
    if (code) ReportFileError(dir, "cannot create directory: " + code.message());
    *created = !code;
    return code ? kExitFailed : kExitOk;
  }
  if (!fs::is_directory(path, code)) {
    ReportFileError(dir, "exists and is not a directory");
    return kExitFailed;
  }
  if (!force) {
    if (fs::directory_iterator(path, code) == fs::directory_iterator() && !code) return kExitOk;
    ReportFileError(dir, code ? "cannot list directory: " + code.message()
                              : "is not empty; --force deletes the frame files in it first");
    return kExitFailed;
  }
  std::vector<std::string> old;
  std::string error;
  if (!FindNumberedFiles(FrameFilesIn(dir), &old, &error)) {
    ReportFileError(dir, error);
    return kExitFailed;
  }
  for (const std::string& path : old) {
    if (OutputIsInput(path, {input})) return RefuseOutputIsInput(path);
    if (!LooksLikeFrameFile(path)) {
      ReportFileError(path, "is not a frame file of an earlier export; --force deletes only those");
      return kExitFailed;
    }
  }
  if (!DeleteNumberedFiles(old, "old frame file", &error)) {
    ReportError(error);
    return kExitFailed;
  }
  return kExitOk;
}

const char* FileNoun(RecordFormat format, size_t frameSize) {
  if (format == RecordFormat::kFrames) return "frame file";
  return frameSize == 0 ? "record" : "frame";
}

std::string Exported(const FrameWriter& writer, uint64_t records) {
  const char* noun = FileNoun(writer.format, writer.frameSize);
  std::string text = writer.frameSize == 0
                         ? Counted(writer.frames, noun)
                         : Counted(writer.frames, noun) + " from " + Counted(records, "record");
  if (writer.byte1 != nullptr && writer.byte1->active) {
    text += "; " + LeftOutText(*writer.byte1, writer.frameSize == 0 ? "record" : "frame");
  }
  return text;
}

// After the walk: the frames too short for the layout, in one line.
int ReportShortFrames(const FrameWriter& writer, const RecordWalk& walk, int status) {
  if (writer.shorts.count == 0) return status;
  ReportFileError(walk.name, ShortFramesMessage(writer.shorts));
  return kExitFailed;
}

// Exports every record up to the first damage through writer.
WalkEnd ExportRecords(const std::string& path, FrameWriter* writer, const std::string& outName,
                      RecordWalk* walk) {
  const WalkOptions options = ReadingFor("export", writer->out != nullptr && writer->out->toStdout);
  std::string error;
  const WalkEnd end = WalkRecords(
      path, options,
      [&](RecordWalk* at, const capture::CaptureRecordView& record) {
        if (WriteRecordFrames(writer, at, record, &error)) return RecordStep::kNext;
        BeforeMessage(at);
        // A frame file's error names the file already.
        if (writer->format == RecordFormat::kFrames) {
          ReportError(error);
        } else {
          ReportFileError(outName, error);
        }
        return RecordStep::kFail;
      },
      walk);
  if (end == WalkEnd::kDamage) {
    ReportFileError(walk->name, "exported the " + Counted(walk->records, "record") + " before the damage");
  }
  return end;
}

int ExportToFile(const std::string& path, FrameWriter writer, const std::string& outPath) {
  OutputFile out;
  std::string error;
  if (!CreateOutputFile(outPath, &out, &error)) {
    ReportFileError(outPath, error);
    return kExitFailed;
  }
  writer.out = &out;
  RecordWalk walk;
  WalkEnd end = WalkEnd::kFailed;
  if (BeginFrames(&writer, &error)) {
    end = ExportRecords(path, &writer, OutputName(out), &walk);
  } else {
    ReportFileError(OutputName(out), error);
  }
  // A damaged capture still yields its valid records; a failed read or
  // write leaves nothing behind.
  if (end == WalkEnd::kFailed) {
    AbandonOutputFile(&out);
    return kExitFailed;
  }
  if (!CommitOutputFile(&out, &error)) {
    ReportFileError(OutputName(out), error);
    return kExitFailed;
  }
  std::fprintf(MessageStream(out), "%s: %s\n", OutputName(out).c_str(),
               Exported(writer, walk.records).c_str());
  return ReportShortFrames(writer, walk, end == WalkEnd::kEnd ? kExitOk : kExitFailed);
}

// After a failure: the frame files this run wrote go, and so does the
// directory if this run made it; says what is left if that fails.
void RemoveFrameFiles(const std::string& dir, const NumberedFiles& files, uint64_t written, bool created) {
  std::string error;
  if (!RemoveWrittenFiles(files, written, &error)) {
    ReportError(error);
    ReportFileError(dir, "the " + Counted(written, "frame file") + " written before the failure may be left");
    return;
  }
  std::error_code code;
  if (created) fs::remove(fs::u8path(dir), code);
  if (written > 0) ReportFileError(dir, "deleted the " + Counted(written, "frame file") + " this run wrote");
}

int ExportToFrameFiles(const std::string& path, FrameWriter writer, const std::string& dir, bool force) {
  bool created = false;
  const int prepared = PrepareFrameDir(dir, path, force, &created);
  if (prepared != kExitOk) return prepared;
  const NumberedFiles files = FrameFilesIn(dir);
  writer.files = &files;
  RecordWalk walk;
  const WalkEnd end = ExportRecords(path, &writer, dir, &walk);
  std::string error;
  bool ok = end != WalkEnd::kFailed;
  if (ok && !platform::SyncDirectoryFiles(dir, &error)) {
    ReportFileError(dir, "cannot sync the frame files to the disk: " + error);
    ok = false;
  }
  if (!ok) {
    RemoveFrameFiles(dir, files, writer.frames, created);
    return kExitFailed;
  }
  if (!WidenNumberedNames(files, writer.frames, &error)) {
    ReportFileError(dir, error);
    return kExitFailed;
  }
  std::printf("%s: %s\n", dir.c_str(), Exported(writer, walk.records).c_str());
  return end == WalkEnd::kEnd ? kExitOk : kExitFailed;
}

}  // namespace

int RunExport(const ParsedArgs& args) {
  RecordFormat format = RecordFormat::kCsv;
  if (!FormatOption(args, "export", {RecordFormat::kCsv, RecordFormat::kRaw, RecordFormat::kFrames},
                    &format)) {
    return kExitUsage;
  }
  size_t frameSize = 0;
  if (!FrameSizeOption(args, "export", &frameSize)) return kExitUsage;
  FrameLayout layout;
  if (!LayoutOption(args, frameSize, &layout)) return kExitUsage;
  if (!layout.fields.empty() && format != RecordFormat::kCsv) {
    ReportError(std::string("export: ") + (HasOption(args, "--fields") ? "--fields" : "--layout") +
                " goes with --format csv");
    return kExitUsage;
  }
  Byte1Filter byte1;
  if (!Byte1Option(args, "export", &byte1)) return kExitUsage;
  FrameWriter writer;
  writer.format = format;
  writer.frameSize = frameSize;
  writer.layout = layout.fields.empty() ? nullptr : &layout;
  writer.byte1 = &byte1;
  const std::string& path = args.positional[0];
  const std::string& out = args.values.at("-o");
  const bool force = HasOption(args, "--force");
  if (format == RecordFormat::kFrames) {
    if (IsStdio(out)) {
      ReportError("export: --format frames writes a directory, not standard output");
      return kExitUsage;
    }
    if (IsNumberedFile(FrameFilesIn(out), path)) return RefuseOutputIsInput(out);
    return ExportToFrameFiles(path, writer, out, force);
  }
  if (force) {
    ReportError("export: --force goes with --format frames");
    return kExitUsage;
  }
  if (OutputIsInput(out, {path})) return RefuseOutputIsInput(out);
  return ExportToFile(path, writer, out);
}

}  // namespace tool
