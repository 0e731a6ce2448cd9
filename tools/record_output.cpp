#include "record_output.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "frame_split.h"

namespace tool {

namespace {

const char* FormatName(RecordFormat format) {
  switch (format) {
    case RecordFormat::kCapture:
      return "capture";
    case RecordFormat::kRaw:
      return "raw";
    case RecordFormat::kCsv:
      return "csv";
    case RecordFormat::kFrames:
      break;
  }
  return "frames";
}

// Each frame file is written aside and renamed, so a crash never leaves half
// a frame; the caller syncs the directory once, at the end.
bool WriteFrameFile(const NumberedFiles& files, uint64_t number, const std::vector<uint8_t>& frame,
                    std::string* error) {
  OutputFile out;
  const std::string path = NumberedPath(files, number, files.baseWidth);
  if (!CreateOutputFile(path, &out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  out.sync = false;
  if (!WriteOutput(&out, frame.data(), frame.size(), error) || !CommitOutputFile(&out, error)) {
    AbandonOutputFile(&out);
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

// Frame bytes [begin, end) of the record, as the writer's next frame.
bool WriteFrame(FrameWriter* writer, const capture::CaptureRecordView& record, size_t begin, size_t end,
                uint64_t index, std::string* error) {
  if (writer->format == RecordFormat::kRaw && begin == 0 && end == capture::ViewFrameLength(record)) {
    return WriteRawFrame(writer->out, record, error);
  }
  writer->frame.clear();
  const int64_t from = writer->frameSize != 0 ? static_cast<int64_t>(record.index) : -1;
  if (writer->layout != nullptr) {
    // Only the bytes the fields need, in one piece.
    capture::AppendViewFrame(record, begin, begin + writer->layout->length, &writer->frame);
    FormatFieldsRow(*writer->layout, writer->frame.data(), index, from, record.offset, &writer->line);
    return WriteOutput(writer->out, writer->line.data(), writer->line.size(), error);
  }
  capture::AppendViewFrame(record, begin, end, &writer->frame);
  switch (writer->format) {
    case RecordFormat::kRaw:
      return WriteOutput(writer->out, writer->frame.data(), writer->frame.size(), error);
    case RecordFormat::kFrames:
      return WriteFrameFile(*writer->files, writer->frames, writer->frame, error);
    case RecordFormat::kCsv:
    case RecordFormat::kCapture:
      break;
  }
  FormatCsvRow(writer->frame, index, from, record.offset, &writer->line);
  return WriteOutput(writer->out, writer->line.data(), writer->line.size(), error);
}

}  // namespace

bool FormatOption(const ParsedArgs& args, const char* command, std::initializer_list<RecordFormat> allowed,
                  RecordFormat* format) {
  if (!HasOption(args, "--format")) return true;
  const std::string& text = args.values.at("--format");
  std::string names;
  size_t listed = 0;
  for (RecordFormat candidate : allowed) {
    if (text == FormatName(candidate)) {
      *format = candidate;
      return true;
    }
    names += (listed == 0                    ? ""
              : listed + 1 == allowed.size() ? " or "
                                             : ", ") +
             std::string(FormatName(candidate));
    ++listed;
  }
  ReportError(std::string(command) + ": unknown format '" + text + "' (" + names + ")");
  return false;
}

const char kCsvHeader[] = "index,offset,length,byte1,payload_hex\n";
const char kSplitCsvHeader[] = "index,record,offset,length,byte1,payload_hex\n";

void FormatCsvRow(const std::vector<uint8_t>& frame, uint64_t index, int64_t record, uint64_t offset,
                  std::string* line) {
  char fields[96];
  if (record >= 0) {
    std::snprintf(fields, sizeof fields, "%" PRIu64 ",%" PRId64 ",%" PRIu64 ",%zu,%02x,", index, record,
                  offset, frame.size(), frame[1]);
  } else {
    std::snprintf(fields, sizeof fields, "%" PRIu64 ",%" PRIu64 ",%zu,%02x,", index, offset, frame.size(),
                  frame[1]);
  }
  *line = fields;
  static const char kDigits[] = "0123456789abcdef";
  for (uint8_t byte : frame) {
    line->push_back(kDigits[byte >> 4]);
    line->push_back(kDigits[byte & 0xf]);
  }
  line->push_back('\n');
}

void FormatFieldsRow(const FrameLayout& layout, const uint8_t* frame, uint64_t index, int64_t record,
                     uint64_t offset, std::string* line) {
  size_t values = 0;
  for (const Field& field : layout.fields) values += field.count;
  // Room for the worst case, written in place: no allocation per value.
  line->resize(3 * (kMaxValueText + 1) + values * (kMaxValueText + 1) + 1);
  char* out = &(*line)[0];
  char* const start = out;
  out = std::to_chars(out, out + kMaxValueText, index).ptr;
  if (record >= 0) {
    *out++ = ',';
    out = std::to_chars(out, out + kMaxValueText, record).ptr;
    *out++ = ',';
    out = std::to_chars(out, out + kMaxValueText, offset).ptr;
  }
  for (const Field& field : layout.fields) {
    for (size_t k = 0; k < field.count; ++k) {
      *out++ = ',';
      out = FormatFieldValue(field, frame, k, out);
    }
  }
  *out++ = '\n';
  line->resize(static_cast<size_t>(out - start));
}

bool WriteRawFrame(OutputFile* out, const capture::CaptureRecordView& record, std::string* error) {
  // Frame bytes 0 and 1, then the rest after the length field: no copy.
  return WriteOutput(out, record.bytes, 2, error) &&
         WriteOutput(out, record.bytes + capture::kRecordHeaderSize, record.size - capture::kRecordHeaderSize,
                     error);
}

bool BeginFrames(FrameWriter* writer, std::string* error) {
  if (writer->format != RecordFormat::kCsv) return true;
  if (writer->layout != nullptr) {
    const std::string header = std::string(writer->frameSize != 0 ? "index,record,offset" : "index") +
                               LayoutColumns(*writer->layout) + "\n";
    return WriteOutput(writer->out, header.data(), header.size(), error);
  }
  const char* header = writer->frameSize != 0 ? kSplitCsvHeader : kCsvHeader;
  return WriteOutput(writer->out, header, std::strlen(header), error);
}

bool WriteRecordFrames(FrameWriter* writer, RecordWalk* walk, const capture::CaptureRecordView& record,
                       std::string* error) {
  if (writer->format == RecordFormat::kCapture) {
    if (writer->byte1 != nullptr &&
        !KeepsFrame(writer->byte1, capture::ViewFrameLength(record), capture::ViewFrameByte(record, 1))) {
      return true;
    }
    if (!WriteOutput(writer->out, record.bytes, record.size, error)) return false;
    ++writer->frames;
    return true;
  }
  // Named fields split every record, a frame cut short by a full buffer
  // included: its values are real when it holds the layout, and otherwise it
  // is one of the frames too short for it, so no frame is silently lost.
  // The plain formats keep such a record whole.
  const size_t length = capture::ViewFrameLength(record);
  const FrameSplit split = writer->layout != nullptr ? SplitFrames(length, writer->frameSize)
                                                     : SplitRecord(length, writer->frameSize);
  if (split.whole) {
    BeforeMessage(walk);
    ReportWholeRecord(walk->name, record, writer->frameSize);
    ++writer->keptWhole;
  }
  const size_t pieces = split.count + (split.fragment != 0 ? 1 : 0);
  for (size_t i = 0; i < pieces; ++i) {
    const size_t begin = i * split.size;
    const size_t size = i < split.count ? split.size : split.fragment;
    const uint64_t index = writer->frameSize != 0 ? writer->seen : record.index;
    ++writer->seen;
    if (writer->byte1 != nullptr &&
        !KeepsFrame(writer->byte1, size, size >= 2 ? capture::ViewFrameByte(record, begin + 1) : 0)) {
      continue;
    }
    if (writer->layout != nullptr && !HoldsLayout(*writer->layout, index, size, &writer->shorts)) continue;
    if (!WriteFrame(writer, record, begin, begin + size, index, error)) return false;
    ++writer->frames;
  }
  return true;
}

}  // namespace tool
