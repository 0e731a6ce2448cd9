// Named fields (--fields, --layout) and the byte-1 selection (--byte1), as
// a user meets them: the exact CSV, the line about short frames, a counter
// found by name, and what each command says it left out.
#include <cstring>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;

// The frames of these tests: 'J', a message type, a little-endian u16
// counter, a big-endian i16 and a float; 10 bytes.
constexpr char kFields[] = "seq=u16@2,level=i16be@4,x=f32@6,head=u8@0[2]";

Bytes Reading(uint8_t type, uint16_t seq, int16_t level, float x) {
  const uint16_t raw = static_cast<uint16_t>(level);
  Bytes frame = {'J',
                 type,
                 static_cast<uint8_t>(seq),
                 static_cast<uint8_t>(seq >> 8),
                 static_cast<uint8_t>(raw >> 8),
                 static_cast<uint8_t>(raw)};
  uint32_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return frame;
}

class SpiCaptureFieldsTest : public SpiCaptureTest {
 protected:
  void SetUp() override {
    SpiCaptureTest::SetUp();
    a_ = Reading(1, 0, -1, 0.5f);
    b_ = Reading(2, 1, 300, -0.1f);
    c_ = Reading(1, 3, 0, 1e10f);
    WriteBytes(Path("r.cap"), Encode({a_, b_, c_}));
    // Two message types, each counted on its own, as many masters do.
    types_ = {Reading(1, 0, 0, 0), Reading(2, 0, 0, 0), Reading(1, 1, 0, 0), Reading(2, 1, 0, 0),
              Reading(1, 2, 0, 0)};
    WriteBytes(Path("types.cap"), Encode(types_));
  }

  Bytes a_, b_, c_;
  std::vector<Bytes> types_;
};

TEST_F(SpiCaptureFieldsTest, ExportWritesTheNamedValues) {
  RunResult result = Run(std::string("export r.cap --format csv -o r.csv --fields ") + kFields);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadText(Path("r.csv")),
            "index,seq,level,x,head[0],head[1]\n"
            "0,0,-1,0.5,74,1\n"
            "1,1,300,-0.1,74,2\n"
            "2,3,0,1e+10,74,1\n");

  // Split by the frame size: the record and its offset come along.
  WriteBytes(Path("joined.cap"), Encode({Concat({a_, b_}), c_}));
  WriteBytes(Path("fields.layout"), Bytes(kFields, kFields + std::strlen(kFields)));
  result = Run("export joined.cap --format csv --frame-size 10 --layout fields.layout -o -");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "index,record,offset,seq,level,x,head[0],head[1]\n"
            "0,0,0,0,-1,0.5,74,1\n"
            "1,0,0,1,300,-0.1,74,2\n"
            "2,1,22,3,0,1e+10,74,1\n");
  EXPECT_EQ(result.err, "standard output: 3 frames from 2 records\n");

  // A record cut short by a full buffer ends in the head of a frame: a row
  // when it holds the layout, like a record shorter than the frame size;
  // otherwise counted as too short. index counts every piece.
  const Bytes head(c_.begin(), c_.begin() + 5);
  WriteBytes(Path("cut.cap"), Encode({Concat({a_, b_, head}), {'J', 2, 7, 0}, Concat({c_, {'J', 1, 5}})}));
  result = Run("export cut.cap --format csv --frame-size 10 --fields seq=u16@2,head=u8@0[2] -o -");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "index,record,offset,seq,head[0],head[1]\n"
            "0,0,0,0,74,1\n"
            "1,0,0,1,74,2\n"
            "2,0,0,3,74,1\n"
            "3,1,27,7,74,2\n"
            "4,2,33,3,74,1\n");
  EXPECT_EQ(result.err,
            "standard output: 5 frames from 3 records\n"
            "spi-capture: cut.cap: 1 frame too short for the layout left out; the first, frame 5 (3 bytes), "
            "ends before field 'seq' (needs 4 bytes)\n");
}

// Frames too short for the layout get no row and one line at the end.
TEST_F(SpiCaptureFieldsTest, ShortFramesAreLeftOutWithOneLine) {
  WriteBytes(Path("short.cap"), Encode({a_, {'J', 1, 5, 0}, c_, {'J', 1}}));
  const RunResult result = Run(std::string("export short.cap --format csv -o short.csv --fields ") + kFields);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadText(Path("short.csv")),
            "index,seq,level,x,head[0],head[1]\n0,0,-1,0.5,74,1\n2,3,0,1e+10,74,1\n");
  EXPECT_EQ(result.out, "short.csv: 2 records\n");
  EXPECT_EQ(
      result.err,
      "spi-capture: short.cap: 2 frames too short for the layout left out; the first, frame 1 (4 bytes), "
      "ends before field 'level' (needs 6 bytes)\n");
}

TEST_F(SpiCaptureFieldsTest, CheckFollowsACounterNamedInTheLayout) {
  const RunResult result = Run(std::string("check r.cap --counter seq --fields ") + kFields);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "record 2: expected 2, found 3: 1 frame missing\nframes 3, missing 1 (25.00 %)\n");
}

// --byte1 keeps the frames of the types given, and each command says how
// many it left out; check's counter runs over the kept frames alone.
TEST_F(SpiCaptureFieldsTest, Byte1SelectsFramesAndCountsTheOthers) {
  RunResult result = Run(std::string("check types.cap --counter seq --byte1 1 --fields ") + kFields);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, "frames 3, missing 0 (0.00 %); 2 records left out by --byte1\n");
  result = Run("check types.cap --counter 2:2 --byte1 0x02,7 --json");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_CONTAINS(result.out, "\"frames\": 2, \"missing\": 0,");
  EXPECT_CONTAINS(result.out, "\"left_out\": 3,");
  EXPECT_EQ(Run("check types.cap --counter 2:2").status, 1);

  result = Run(std::string("export types.cap --format csv -o - --byte1 2 --fields ") + kFields);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "index,seq,level,x,head[0],head[1]\n1,0,0,0,74,2\n3,1,0,0,74,2\n");
  EXPECT_EQ(result.err, "standard output: 2 records; 3 records left out by --byte1\n");

  result = Run("slice types.cap --from 1 --byte1 1 -o ones.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("ones.cap")), Encode({types_[2], types_[4]}));
  EXPECT_EQ(result.out, "ones.cap: 2 records from record 1; 2 records left out by --byte1\n");
  result = Run("slice types.cap --from 0 --byte1 9 -o none.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "types.cap: no record from --from 0 on is kept by --byte1");

  // Split by the frame size, each frame's own byte 1 counts.
  WriteBytes(Path("joined.cap"), Encode({Concat({types_[0], types_[1]}), types_[2]}));
  result = Run("export joined.cap --format raw --frame-size 10 --byte1 2 -o -");
  EXPECT_EQ(result.bytes, types_[1]);
  EXPECT_EQ(result.err, "standard output: 1 frame from 2 records; 2 frames left out by --byte1\n");

  result = Run("follow types.cap --idle-exit 1 --byte1 2 -o -");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.bytes, Encode({types_[1], types_[3]}));
  EXPECT_CONTAINS(result.err, "types.cap: followed 5 records; 3 records left out by --byte1\n");

  result = Run(std::string("dump types.cap --byte1 2 --fields ") + kFields);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "   index       offset length  fields\n"
            "       1           12     10  seq=0 level=0 x=0 head=[74 2]\n"
            "       3           36     10  seq=1 level=0 x=0 head=[74 2]\n"
            "3 records left out by --byte1\n");
}

TEST_F(SpiCaptureFieldsTest, LayoutAndSelectionMistakesAreUsageErrors) {
  WriteBytes(Path("bad.layout"),
             {'a', '=', 'u', '8', '@', '0', '\n', 'b', '=', 'u', '8', '@', '7', '0', '0', '0', '0'});
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"export r.cap --format csv -o x --fields a=u8@0,a=u8@1", "spi-capture: field 'a' is named twice\n"},
      {"export r.cap --format csv -o x --layout bad.layout",
       "spi-capture: bad.layout:2: field 'b': offset '70000' is not a byte of a frame (0 to 65534)\n"},
      {"export r.cap --format raw -o x --fields a=u8@0", "export: --fields goes with --format csv"},
      {"export r.cap --format csv -o x --fields a=u8@0 --layout bad.layout",
       "give at most one of --fields TEXT"},
      {"export r.cap --format csv -o x --frame-size 8 --fields x=f32@6",
       "spi-capture: field 'x': ends at byte 10, past the end of a 8-byte frame\n"},
      {"dump - --layout -", "standard input ('-') can be read only once"},
      {"check r.cap --counter x --fields x=f32@6", "field 'x' is not an integer of one value"},
      {"check r.cap --counter h --fields h=u8@0[2]", "field 'h' is not an integer of one value"},
      {"check r.cap --counter y --fields x=u8@6", "the layout has no field 'y'"},
      {"check r.cap --counter seq", "a field's name needs --fields or --layout"},
      {"dump r.cap --byte1 1,x", "dump: --byte1: 'x' is not a byte value"},
      {"slice r.cap --from 0 -o x --byte1 256", "slice: --byte1: '256' is not a byte value"},
      {"follow r.cap --byte1 0x100", "follow: --byte1: '0x100' is not a byte value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 2);
    EXPECT_CONTAINS(result.err, c.message);
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
