// Writing frames as export and follow give them out: raw bytes, or CSV rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "output_file.h"

namespace tool {

// index,offset,length,byte1,payload_hex: one row per record.
extern const char kCsvHeader[];
// index,record,offset,length,byte1,payload_hex: one row per frame when
// records are split by a frame size.
extern const char kSplitCsvHeader[];

// The row for frame (at least 2 bytes), ending in a line feed. record is
// the index of the record it came from, or -1 for a row per record.
void FormatCsvRow(const std::vector<uint8_t>& frame, uint64_t index, int64_t record, uint64_t offset,
                  std::string* line);

// The record's frame as the master sent it, without the length field.
bool WriteRawFrame(OutputFile* out, const capture::CaptureRecordView& record, std::string* error);

}  // namespace tool
