// Frame layouts: the named, typed fields a user sees in the master's frames
// (`--fields 'seq=u64le@1,ch=i16le@16[8]'` or a file of such lines), how to
// read a field's values out of a frame and how to write them as text. The
// grammar, the error texts and the number format are shared with the Python
// module, byte for byte, so the same layout gives the same CSV in both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_args.h"

namespace tool {

enum class FieldType { kU8, kI8, kU16, kI16, kU32, kI32, kU64, kI64, kF32, kF64 };

struct Field {
  std::string name;
  FieldType type = FieldType::kU8;
  bool bigEndian = false;
  size_t size = 1;     // bytes per element
  size_t offset = 0;   // of the first element, in the frame (byte 0 is the 'J')
  size_t count = 1;    // elements
  bool array = false;  // written with [COUNT]: one column per element, NAME[k]
  size_t end = 1;      // offset + size * count: the frame length the field needs
};

struct FrameLayout {
  std::vector<Field> fields;  // in the order given: the column order
  size_t length = 0;          // the frame length every field fits in: the largest end
};

// Parses a layout: fields separated by ',' and by line ends, '#' to the end
// of a line a comment. frameSize (0: none) is a known frame length no field
// may end past. On an error, *error holds the message; from a file (origin
// not empty) it starts with "ORIGIN:LINE: ".
bool ParseLayout(const std::string& text, const std::string& origin, size_t frameSize, FrameLayout* layout,
                 std::string* error);

// Reads and parses the layout file at path (UTF-8 name) as ParseLayout does.
bool ReadLayoutFile(const std::string& path, size_t frameSize, FrameLayout* layout, std::string* error);

// Reads --fields TEXT or --layout FILE into *layout (no fields when neither
// is given). On an error, says so and returns false; the caller exits with
// kExitUsage.
bool LayoutOption(const ParsedArgs& args, size_t frameSize, FrameLayout* layout);

// The first field, in layout order, that a frame of length bytes cannot
// hold; null when it holds them all.
const Field* FirstFieldPast(const FrameLayout& layout, size_t length);

// Element k of the field as an unsigned integer of its width (two's
// complement for the signed types); frame holds at least field.end bytes.
uint64_t ReadFieldBits(const Field& field, const uint8_t* frame, size_t k);

bool IsIntegerType(FieldType type);

// The longest text FormatFieldValue writes.
constexpr size_t kMaxValueText = 32;

// Writes element k of the field as text at out (room for kMaxValueText
// characters) and returns the end: integers in decimal; floats as the
// shortest text that reads back to the same value of their type, nan
// without a sign, inf and -inf.
char* FormatFieldValue(const Field& field, const uint8_t* frame, size_t k, char* out);

// The CSV columns of the layout after the leading ones: NAME for a scalar,
// NAME[0]..NAME[COUNT-1] for an array, each preceded by ','.
std::string LayoutColumns(const FrameLayout& layout);

// Frames left out for being too short for the layout, and the first of
// them, for the one line said after the walk.
struct ShortFrames {
  uint64_t count = 0;
  uint64_t firstIndex = 0;
  size_t firstLength = 0;
  const Field* firstField = nullptr;
};

// True when the frame holds the layout; otherwise notes it in *shorts.
bool HoldsLayout(const FrameLayout& layout, uint64_t index, size_t length, ShortFrames* shorts);

// "N frames too short for the layout left out; the first, frame I (L
// bytes), ends before field 'NAME' (needs END bytes)"; shorts.count > 0.
std::string ShortFramesMessage(const ShortFrames& shorts);

}  // namespace tool
