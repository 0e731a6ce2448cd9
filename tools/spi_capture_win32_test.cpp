// spi-capture's process tests of what only Windows has: device names and
// wildcards that cmd leaves to the program.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

// NUL is written in place, as /dev/null is: a temporary beside it would be
// NUL.tmp0, itself the null device, and renaming over it fails.
TEST_F(SpiCaptureTest, TheNullDeviceIsWrittenInPlace) {
  for (const char* args : {"export good.cap --format raw -o NUL", "export good.cap --format csv -o nul",
                           "cat good.cap good.cap -o NUL", "slice good.cap --from 1 -o NUL",
                           "repair damaged.cap -o NUL", "follow good.cap --idle-exit 1 -o NUL"}) {
    SCOPED_TRACE(args);
    const RunResult result = Run(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"damaged.cap", "good.cap"}));
  }
}

// cmd hands "*.cap" to the program as it is: spi-capture expands it in its
// folder, sorted, keeping the folder as written; a pattern that matches
// nothing stays a name.
TEST_F(SpiCaptureTest, WildcardsAreExpandedAsWindowsProgramsDo) {
  fs::create_directories(dir_ / "runs");
  WriteBytes(dir_ / "runs" / "b.cap", good_);
  WriteBytes(dir_ / "runs" / "a.cap", good_);
  WriteBytes(dir_ / "runs" / "notes.txt", {});
  RunResult result = Run("verify runs/*.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "runs/a.cap: OK (3 records, 54 bytes)\nruns/b.cap: OK (3 records, 54 bytes)\n");
  result = Run("verify g?od.cap");
  EXPECT_EQ(result.out, "good.cap: OK (3 records, 54 bytes)\n");
  result = Run("verify none*.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "spi-capture: none*.cap: cannot open");
}

}  // namespace
