// Writing frames as export and follow give them out: a capture, raw bytes,
// CSV rows, or one file per frame; split by a frame size when asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "byte1_filter.h"
#include "capture_reader.h"
#include "frame_layout.h"
#include "numbered_files.h"
#include "output_file.h"
#include "record_walk.h"
#include "tool_args.h"

namespace tool {

enum class RecordFormat { kCapture, kRaw, kCsv, kFrames };

// Reads --format, one of allowed, into *format (left alone when the option
// is not given). On a name not allowed, says so and returns false; the
// caller exits with kExitUsage.
bool FormatOption(const ParsedArgs& args, const char* command, std::initializer_list<RecordFormat> allowed,
                  RecordFormat* format);

// index,offset,length,byte1,payload_hex: one row per record.
extern const char kCsvHeader[];
// index,record,offset,length,byte1,payload_hex: one row per frame when
// records are split by a frame size.
extern const char kSplitCsvHeader[];

// The row for frame (at least 2 bytes), ending in a line feed. record is
// the index of the record it came from, or -1 for a row per record.
void FormatCsvRow(const std::vector<uint8_t>& frame, uint64_t index, int64_t record, uint64_t offset,
                  std::string* line);

// The row of the layout's values for frame (holding layout.length bytes at
// least), ending in a line feed; record as for FormatCsvRow.
void FormatFieldsRow(const FrameLayout& layout, const uint8_t* frame, uint64_t index, int64_t record,
                     uint64_t offset, std::string* line);

// The record's frame as the master sent it, without the length field.
bool WriteRawFrame(OutputFile* out, const capture::CaptureRecordView& record, std::string* error);

// Where the frames of a walk go, and how many went.
struct FrameWriter {
  RecordFormat format = RecordFormat::kRaw;
  size_t frameSize = 0;                  // --frame-size; 0: one frame per record
  OutputFile* out = nullptr;             // capture, raw and csv
  const NumberedFiles* files = nullptr;  // frames: the frame files' names
  uint64_t frames = 0;                   // frames written
  uint64_t keptWhole = 0;                // records that could not be split
  uint64_t seen = 0;                     // frames met, written or not: a split frame's index
  const FrameLayout* layout = nullptr;   // csv: the fields' values in place of the frame's bytes
  ShortFrames shorts;                    // frames too short for the layout: not written
  Byte1Filter* byte1 = nullptr;          // frames it does not keep are not written
  std::string line;
  std::vector<uint8_t> frame;
};

// What comes before the first frame: the CSV header (the layout's columns
// when there is one).
bool BeginFrames(FrameWriter* writer, std::string* error);

// Writes the record's frames that the byte-1 filter keeps and that hold
// the layout. With a layout, a record that is not a multiple of the frame
// size ends in a shorter frame, the head of one cut short; without one,
// such a record is reported (as the walk's input) and written whole. A
// capture gets the record as it is.
bool WriteRecordFrames(FrameWriter* writer, RecordWalk* walk, const capture::CaptureRecordView& record,
                       std::string* error);

}  // namespace tool
