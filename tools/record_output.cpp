#include "record_output.h"

#include <cinttypes>
#include <cstdio>

namespace tool {

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

bool WriteRawFrame(OutputFile* out, const capture::CaptureRecordView& record, std::string* error) {
  // Frame bytes 0 and 1, then the rest after the length field: no copy.
  return WriteOutput(out, record.bytes, 2, error) &&
         WriteOutput(out, record.bytes + capture::kRecordHeaderSize, record.size - capture::kRecordHeaderSize,
                     error);
}

}  // namespace tool
