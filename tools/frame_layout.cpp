#include "frame_layout.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "decimal_number.h"
#include "input_file.h"

namespace tool {

namespace {

constexpr size_t kLongestFrame = 65535;
constexpr size_t kLongestName = 64;

struct TypeName {
  const char* name;
  FieldType type;
  size_t size;
};

constexpr TypeName kTypes[] = {
    {"u8", FieldType::kU8, 1},   {"i8", FieldType::kI8, 1},   {"u16", FieldType::kU16, 2},
    {"i16", FieldType::kI16, 2}, {"u32", FieldType::kU32, 4}, {"i32", FieldType::kI32, 4},
    {"u64", FieldType::kU64, 8}, {"i64", FieldType::kI64, 8}, {"f32", FieldType::kF32, 4},
    {"f64", FieldType::kF64, 8},
};

bool IsBlank(char c) {
  // '\r': a layout file written on Windows.
  return c == ' ' || c == '\t' || c == '\r';
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsValidName(const std::string& name) {
  if (name.empty() || name.size() > kLongestName || !IsNameStart(name[0])) return false;
  for (char c : name) {
    if (!IsNameStart(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

bool ParseType(const std::string& text, Field* field) {
  std::string base = text;
  field->bigEndian = false;
  if (base.size() > 2 &&
      (base.compare(base.size() - 2, 2, "le") == 0 || base.compare(base.size() - 2, 2, "be") == 0)) {
    field->bigEndian = base.compare(base.size() - 2, 2, "be") == 0;
    base.resize(base.size() - 2);
  }
  for (const TypeName& type : kTypes) {
    if (base == type.name) {
      field->type = type.type;
      field->size = type.size;
      return true;
    }
  }
  return false;
}

bool NamedBefore(const std::vector<Field>& fields, const std::string& name) {
  for (const Field& field : fields) {
    if (field.name == name) return true;
  }
  return false;
}

// One item of the layout, checked in a fixed order so both readers of the
// grammar report the same first fault.
bool ParseField(const std::string& item, const std::vector<Field>& before, size_t frameSize, Field* field,
                std::string* error) {
  const size_t equals = item.find('=');
  const size_t at = equals == std::string::npos ? std::string::npos : item.find('@', equals + 1);
  std::string rest = at == std::string::npos ? std::string() : Trim(item.substr(at + 1));
  const size_t bracket = rest.find('[');
  if (at == std::string::npos || (bracket != std::string::npos && rest.back() != ']')) {
    *error = "'" + item + "' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]";
    return false;
  }
  field->name = Trim(item.substr(0, equals));
  const std::string typeText = Trim(item.substr(equals + 1, at - equals - 1));
  const std::string offsetText = Trim(rest.substr(0, bracket));
  field->array = bracket != std::string::npos;
  const std::string countText =
      field->array ? Trim(rest.substr(bracket + 1, rest.size() - bracket - 2)) : "1";
  const std::string named = "field '" + field->name + "': ";
  if (!IsValidName(field->name)) {
    *error = "'" + field->name + "' is not a field name: letters, digits and _, not starting with a digit";
    return false;
  }
  if (field->name == "index" || field->name == "record" || field->name == "offset") {
    *error = named + "the name is taken by a column of its own";
    return false;
  }
  if (NamedBefore(before, field->name)) {
    *error = "field '" + field->name + "' is named twice";
    return false;
  }
  if (!ParseType(typeText, field)) {
    *error = named + "unknown type '" + typeText +
             "'; types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with le or be";
    return false;
  }
  uint64_t offset = 0;
  if (!common::ParseDecimalOrHex(offsetText, kLongestFrame - 1, &offset)) {
    *error = named + "offset '" + offsetText + "' is not a byte of a frame (0 to 65534)";
    return false;
  }
  uint64_t count = 0;
  if (!common::ParseDecimal(countText, kLongestFrame, &count) || count == 0) {
    *error = named + "count '" + countText + "' is not 1 to 65535";
    return false;
  }
  field->offset = static_cast<size_t>(offset);
  field->count = static_cast<size_t>(count);
  field->end = field->offset + field->size * field->count;
  if (field->end > kLongestFrame) {
    *error = named + "ends at byte " + std::to_string(field->end) + ", past the longest frame (65535 bytes)";
    return false;
  }
  if (frameSize != 0 && field->end > frameSize) {
    *error = named + "ends at byte " + std::to_string(field->end) + ", past the end of a " +
             std::to_string(frameSize) + "-byte frame";
    return false;
  }
  return true;
}

// A nan's sign and payload mean nothing to a reader of the table.
char* WriteNan(char* out) {
  for (const char c : {'n', 'a', 'n'}) *out++ = c;
  return out;
}

}  // namespace

bool ParseLayout(const std::string& text, const std::string& origin, size_t frameSize, FrameLayout* layout,
                 std::string* error) {
  layout->fields.clear();
  layout->length = 0;
  size_t lineNumber = 0;
  for (size_t begin = 0; begin <= text.size(); ++lineNumber) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    for (size_t start = 0; start <= line.size();) {
      size_t comma = line.find(',', start);
      if (comma == std::string::npos) comma = line.size();
      Field field;
      if (!ParseField(Trim(line.substr(start, comma - start)), layout->fields, frameSize, &field, error)) {
        if (!origin.empty()) *error = origin + ":" + std::to_string(lineNumber + 1) + ": " + *error;
        return false;
      }
      if (field.end > layout->length) layout->length = field.end;
      layout->fields.push_back(std::move(field));
      start = comma + 1;
    }
  }
  if (layout->fields.empty()) {
    // No line is at fault: the file alone is named.
    *error = origin.empty() ? "the layout names no field" : origin + ": the layout names no field";
    return false;
  }
  return true;
}

bool ReadLayoutFile(const std::string& path, size_t frameSize, FrameLayout* layout, std::string* error) {
  std::FILE* file = OpenInput(path, error);
  if (file == nullptr) return false;
  std::string text;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) {
    *error = path + ": cannot read";
    return false;
  }
  return ParseLayout(text, path, frameSize, layout, error);
}

bool LayoutOption(const ParsedArgs& args, size_t frameSize, FrameLayout* layout) {
  layout->fields.clear();
  layout->length = 0;
  std::string error;
  bool ok = true;
  if (HasOption(args, "--fields")) {
    ok = ParseLayout(args.values.at("--fields"), "", frameSize, layout, &error);
  } else if (HasOption(args, "--layout")) {
    const std::string& path = args.values.at("--layout");
    bool stdinTaken = false;
    for (const std::string& input : args.positional) stdinTaken = stdinTaken || IsStdio(input);
    if (IsStdio(path) && stdinTaken) {
      error = "standard input ('-') can be read only once: --layout - takes it from the capture";
      ok = false;
    } else {
      ok = ReadLayoutFile(path, frameSize, layout, &error);
    }
  }
  if (!ok) ReportError(error);
  return ok;
}

const Field* FirstFieldPast(const FrameLayout& layout, size_t length) {
  if (length >= layout.length) return nullptr;
  for (const Field& field : layout.fields) {
    if (field.end > length) return &field;
  }
  return nullptr;
}

uint64_t ReadFieldBits(const Field& field, const uint8_t* frame, size_t k) {
  const uint8_t* bytes = frame + field.offset + k * field.size;
  uint64_t value = 0;
  if (field.bigEndian) {
    for (size_t i = 0; i < field.size; ++i) value = (value << 8) | bytes[i];
  } else {
    for (size_t i = field.size; i > 0; --i) value = (value << 8) | bytes[i - 1];
  }
  return value;
}

bool IsIntegerType(FieldType type) {
  return type != FieldType::kF32 && type != FieldType::kF64;
}

char* FormatFieldValue(const Field& field, const uint8_t* frame, size_t k, char* out) {
  const uint64_t bits = ReadFieldBits(field, frame, k);
  char* const last = out + kMaxValueText;
  switch (field.type) {
    case FieldType::kU8:
    case FieldType::kU16:
    case FieldType::kU32:
    case FieldType::kU64:
      return std::to_chars(out, last, bits).ptr;
    case FieldType::kI8:
      return std::to_chars(out, last, static_cast<int8_t>(bits)).ptr;
    case FieldType::kI16:
      return std::to_chars(out, last, static_cast<int16_t>(bits)).ptr;
    case FieldType::kI32:
      return std::to_chars(out, last, static_cast<int32_t>(bits)).ptr;
    case FieldType::kI64:
      return std::to_chars(out, last, static_cast<int64_t>(bits)).ptr;
    case FieldType::kF32: {
      const uint32_t narrow = static_cast<uint32_t>(bits);
      float value = 0;
      std::memcpy(&value, &narrow, sizeof value);
      if (std::isnan(value)) return WriteNan(out);
      return std::to_chars(out, last, value).ptr;
    }
    case FieldType::kF64:
      break;
  }
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  if (std::isnan(value)) return WriteNan(out);
  return std::to_chars(out, last, value).ptr;
}

std::string LayoutColumns(const FrameLayout& layout) {
  std::string columns;
  for (const Field& field : layout.fields) {
    if (!field.array) {
      columns += "," + field.name;
      continue;
    }
    for (size_t k = 0; k < field.count; ++k) columns += "," + field.name + "[" + std::to_string(k) + "]";
  }
  return columns;
}

bool HoldsLayout(const FrameLayout& layout, uint64_t index, size_t length, ShortFrames* shorts) {
  if (length >= layout.length) return true;
  if (shorts->count++ == 0) {
    shorts->firstIndex = index;
    shorts->firstLength = length;
    shorts->firstField = FirstFieldPast(layout, length);
  }
  return false;
}

std::string ShortFramesMessage(const ShortFrames& shorts) {
  return std::to_string(shorts.count) + (shorts.count == 1 ? " frame" : " frames") +
         " too short for the layout left out; the first, frame " + std::to_string(shorts.firstIndex) + " (" +
         std::to_string(shorts.firstLength) + " bytes), ends before field '" + shorts.firstField->name +
         "' (needs " + std::to_string(shorts.firstField->end) + " bytes)";
}

}  // namespace tool
