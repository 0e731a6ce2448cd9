#include "byte1_filter.h"

#include <charconv>

#include "decimal_number.h"

namespace tool {

namespace {

bool ParseByte(const std::string& text, uint8_t* value) {
  uint64_t number = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const char* begin = text.data() + 2;
    const char* end = text.data() + text.size();
    // from_chars would stop at a blank and leave the rest unread.
    const std::from_chars_result parsed = std::from_chars(begin, end, number, 16);
    if (parsed.ec != std::errc() || parsed.ptr != end || number > 255) return false;
  } else if (!common::ParseDecimal(text, 255, &number)) {
    return false;
  }
  *value = static_cast<uint8_t>(number);
  return true;
}

}  // namespace

bool Byte1Option(const ParsedArgs& args, const char* command, Byte1Filter* filter) {
  if (!HasOption(args, "--byte1")) return true;
  const std::string& text = args.values.at("--byte1");
  for (size_t start = 0; start <= text.size();) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    uint8_t value = 0;
    if (!ParseByte(item, &value)) {
      ReportError(std::string(command) + ": --byte1: '" + item +
                  "' is not a byte value (0 to 255, or 0x00 to 0xff)");
      return false;
    }
    filter->keep[value] = true;
    start = comma + 1;
  }
  filter->active = true;
  return true;
}

bool KeepsFrame(Byte1Filter* filter, size_t length, uint8_t byte1) {
  if (!filter->active) return true;
  if (length >= 2 && filter->keep[byte1]) return true;
  ++filter->leftOut;
  return false;
}

std::string LeftOutText(const Byte1Filter& filter, const char* noun) {
  if (!filter.active) return std::string();
  return Counted(filter.leftOut, noun) + " left out by --byte1";
}

}  // namespace tool
