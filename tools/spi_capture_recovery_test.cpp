// repair and check as processes where damage and overflows meet whole
// records: what is kept, how it is numbered, and what is said.
#include <filesystem>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

// Records 20 and 100 lost their length fields: the records beside them stay,
// and the messages name the input's record numbers. Bytes that hold no
// record give no output and exit 1.
TEST_F(SpiCaptureTest, RepairKeepsTheRecordsBesideDamageAndNumbersThemAsTheInputDoes) {
  std::vector<Bytes> frames;
  for (size_t i = 0; i < 200; ++i) frames.push_back(MakeFrame(302, static_cast<uint8_t>(i)));
  Bytes damaged = Encode(frames);
  for (size_t hit : {20, 100}) {
    damaged[hit * 304 + 2] = hit == 20 ? 0 : 1;
    damaged[hit * 304 + 3] = 0;
  }
  WriteBytes(Path("hit.cap"), damaged);
  RunResult result = Run("repair hit.cap -o fixed.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "hit.cap: offset 6080 (record 20): dropped 304 bytes: length 0 is below 2\n"
            "hit.cap: offset 30400 (record 100): dropped 304 bytes: length 1 is below 2\n"
            "hit.cap: kept 198 records (60192 bytes); dropped 608 bytes in 2 ranges\n");
  std::vector<Bytes> expected = frames;
  expected.erase(expected.begin() + 100);
  expected.erase(expected.begin() + 20);
  EXPECT_EQ(ReadBytes(Path("fixed.cap")), Encode(expected));

  WriteBytes(Path("zeros.cap"), Bytes(1000, 0));
  for (const char* args : {"repair zeros.cap -o none.cap", "repair zeros.cap --truncate -o none.cap",
                           "repair zeros.cap --in-place"}) {
    SCOPED_TRACE(args);
    result = Run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_CONTAINS(result.err, "spi-capture: zeros.cap: no record found in 1000 bytes; nothing recovered\n");
    EXPECT_FALSE(fs::exists(Path("none.cap")));
    EXPECT_FALSE(fs::exists(Path("zeros.cap.bak")));
    EXPECT_EQ(ReadBytes(Path("zeros.cap")), Bytes(1000, 0));
  }
}

}  // namespace
