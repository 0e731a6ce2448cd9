#include "byte1_filter.h"

#include "decimal_number.h"

namespace tool {

bool Byte1Option(const ParsedArgs& args, const char* command, Byte1Filter* filter) {
  if (!HasOption(args, "--byte1")) return true;
  const std::string& text = args.values.at("--byte1");
  for (size_t start = 0; start <= text.size();) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    uint64_t value = 0;
    if (!common::ParseDecimalOrHex(item, 255, &value)) {
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
