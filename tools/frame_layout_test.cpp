#include "frame_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Valid layouts give their columns and needed length; each fault gives the
// first failing check's text.
TEST(FrameLayout, ParsesTheGrammarAndNamesEachFault) {
  const struct {
    const char* text;
    size_t frameSize;
    const char* columnsOrError;  // ",a,b[0]" for a valid layout, else the error
    size_t length;
  } cases[] = {
      {"seq=u64le@1", 0, ",seq", 9},
      {" a = u16be @ 0x10 [ 2 ] ,\tb=i8@0", 0, ",a[0],a[1],b", 20},
      {"x=f64@0,y=f32be@0[1],z=u8le@65534", 0, ",x,y[0],z", 65535},
      {"_A9=u8@0X0a # a comment, b=oops", 0, ",_A9", 11},
      {"a=u32@0,b=u8@1", 4, ",a,b", 4},
      {"", 0, "the layout names no field", 0},
      {"  # only a comment", 0, "the layout names no field", 0},
      {"a=u8@0,,b=u8@1", 0, "'' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]", 0},
      {"a=u8@0,", 0, "'' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]", 0},
      {" a u8 0 ", 0, "'a u8 0' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]", 0},
      {"a=u8@1[2", 0, "'a=u8@1[2' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]", 0},
      {"9a=u8@1", 0, "'9a' is not a field name: letters, digits and _, not starting with a digit", 0},
      {"a-b=u8@1", 0, "'a-b' is not a field name: letters, digits and _, not starting with a digit", 0},
      {"=u8@1", 0, "'' is not a field name: letters, digits and _, not starting with a digit", 0},
      {"n1234567890123456789012345678901234567890123456789012345678901234=u8@1", 0,
       "'n1234567890123456789012345678901234567890123456789012345678901234' is not a field name: letters, "
       "digits and _, not starting with a digit",
       0},
      {"offset=u8@1", 0, "field 'offset': the name is taken by a column of its own", 0},
      {"a=u8@1,a=u16@2", 0, "field 'a' is named twice", 0},
      {"a=u24@1", 0,
       "field 'a': unknown type 'u24'; types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with le or be", 0},
      {"a=U8@1", 0,
       "field 'a': unknown type 'U8'; types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with le or be", 0},
      {"a=u8@65535", 0, "field 'a': offset '65535' is not a byte of a frame (0 to 65534)", 0},
      {"a=u8@-1", 0, "field 'a': offset '-1' is not a byte of a frame (0 to 65534)", 0},
      {"a=u8@0x", 0, "field 'a': offset '0x' is not a byte of a frame (0 to 65534)", 0},
      {"a=u8@1[0]", 0, "field 'a': count '0' is not 1 to 65535", 0},
      {"a=u8@1[65536]", 0, "field 'a': count '65536' is not 1 to 65535", 0},
      {"a=u8@1[]", 0, "field 'a': count '' is not 1 to 65535", 0},
      {"a=u16@65534", 0, "field 'a': ends at byte 65536, past the longest frame (65535 bytes)", 0},
      {"a=i16le@16[2040]", 4096, "", 4096},
      {"a=u8@0,b=u32@1", 4, "field 'b': ends at byte 5, past the end of a 4-byte frame", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    tool::FrameLayout layout;
    std::string error;
    const bool ok = tool::ParseLayout(c.text, "", c.frameSize, &layout, &error);
    if (c.length != 0) {
      ASSERT_TRUE(ok) << error;
      if (c.columnsOrError[0] != '\0') {
        EXPECT_EQ(tool::LayoutColumns(layout), c.columnsOrError);
      }
      EXPECT_EQ(layout.length, c.length);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, c.columnsOrError);
    }
  }
}

// A file is the same grammar over lines: errors name the file and line.
TEST(FrameLayout, FileErrorsNameTheLine) {
  tool::FrameLayout layout;
  std::string error;
  ASSERT_TRUE(tool::ParseLayout("# header\r\n\nseq = u64@1  # counter\r\nt=u32@9, s=u16be@13\n", "f.layout",
                                0, &layout, &error))
      << error;
  EXPECT_EQ(tool::LayoutColumns(layout), ",seq,t,s");
  EXPECT_FALSE(tool::ParseLayout("a=u8@0\n\nb=x@1\n", "f.layout", 0, &layout, &error));
  EXPECT_EQ(error,
            "f.layout:3: field 'b': unknown type 'x'; types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with "
            "le or be");
  EXPECT_FALSE(tool::ParseLayout("\n# nothing\n", "f.layout", 0, &layout, &error));
  EXPECT_EQ(error, "f.layout: the layout names no field");
}

std::vector<std::string> Decode(const std::string& text, const std::vector<uint8_t>& frame) {
  tool::FrameLayout layout;
  std::string error;
  EXPECT_TRUE(tool::ParseLayout(text, "", 0, &layout, &error)) << error;
  std::vector<std::string> values;
  for (const tool::Field& field : layout.fields) {
    for (size_t k = 0; k < field.count; ++k) {
      char text[tool::kMaxValueText];
      values.emplace_back(text, tool::FormatFieldValue(field, frame.data(), k, text));
    }
  }
  return values;
}

// Every type in both byte orders, arrays, and the values at the edges.
TEST(FrameLayout, DecodesEveryTypeInBothOrders) {
  using V = std::vector<std::string>;
  const struct {
    const char* layout;
    std::vector<uint8_t> frame;
    V values;
  } cases[] = {
      {"a=u8@0,b=i8@1,c=i8be@2", {0xff, 0x80, 0x7f}, V{"255", "-128", "127"}},
      {"a=u16@0,b=u16be@0,c=i16@0,d=i16be@0", {0x01, 0xff}, V{"65281", "511", "-255", "511"}},
      {"a=u32@0,b=u32be@0,c=i32@0,d=i32be@0",
       {0x00, 0x00, 0x00, 0x80},
       V{"2147483648", "128", "-2147483648", "128"}},
      {"a=u64@0,b=i64@0", {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, V{"18446744073709551615", "-1"}},
      {"a=i64@0,b=i64be@0,c=u64be@0", {0, 0, 0, 0, 0, 0, 0, 0x80}, V{"-9223372036854775808", "128", "128"}},
      {"a=i64be@0", {0x80, 0, 0, 0, 0, 0, 0, 0}, V{"-9223372036854775808"}},
      {"a=f32@0,b=f32be@4", {0xcd, 0xcc, 0xcc, 0x3d, 0x3d, 0xcc, 0xcc, 0xcd}, V{"0.1", "0.1"}},
      {"a=f64@0,b=f64be@8",
       {0x9a, 0x99, 0x99, 0x99, 0x99, 0x99, 0xb9, 0x3f, 0x3f, 0xb9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9a},
       V{"0.1", "0.1"}},
      {"a=f32@0[6]",
       {0, 0, 0,    0x80, 0, 0, 0xc0, 0x7f, 0, 0, 0xc0, 0xff,
        0, 0, 0x80, 0x7f, 0, 0, 0x80, 0xff, 0, 0, 0x20, 0xc0},
       V{"-0", "nan", "nan", "inf", "-inf", "-2.5"}},
      {"a=f64be@0,b=f64@8",
       {0x43, 0x41, 0xc3, 0x79, 0x37, 0xe0, 0x80, 0x00, 0, 0, 0, 0, 0, 0, 0xf8, 0xff},
       V{"1e+16", "nan"}},
      {"a=f64@0[2],b=f32@16,c=f64be@20",
       {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0xf0, 0xff, 73, 32, 79, 55, 0, 0, 0, 0, 0, 0, 0, 1},
       V{"-0", "-inf", "1.2345678e-05", "5e-324"}},
      {"a=i16be@1[3]", {'J', 0xfc, 0x18, 0x00, 0x00, 0x03, 0xe8}, V{"-1000", "0", "1000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    EXPECT_EQ(Decode(c.layout, c.frame), c.values);
  }
}

// The first field a short frame cannot hold, in layout order, and the line
// that reports such frames.
TEST(FrameLayout, ShortFramesNameTheFirstFieldPastTheirEnd) {
  tool::FrameLayout layout;
  std::string error;
  ASSERT_TRUE(tool::ParseLayout("a=u8@1,b=u32@8,c=u16@2", "", 0, &layout, &error)) << error;
  tool::ShortFrames shorts;
  EXPECT_TRUE(tool::HoldsLayout(layout, 0, 12, &shorts));
  EXPECT_FALSE(tool::HoldsLayout(layout, 4, 9, &shorts));
  EXPECT_FALSE(tool::HoldsLayout(layout, 5, 3, &shorts));
  EXPECT_EQ(tool::ShortFramesMessage(shorts),
            "2 frames too short for the layout left out; the first, frame 4 (9 bytes), ends before field 'b' "
            "(needs 12 bytes)");
  EXPECT_EQ(tool::FirstFieldPast(layout, 3)->name, "b");
  EXPECT_EQ(tool::FirstFieldPast(layout, 1)->name, "a");
}

}  // namespace
