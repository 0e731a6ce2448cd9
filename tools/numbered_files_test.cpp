#include "numbered_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class NumberedFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("numbered_files_test_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// More files than the padding allows: the early names are widened, so the
// names sort in number order and each file keeps its content.
TEST_F(NumberedFilesTest, NamesAreWidenedSoTheySortInOrder) {
  tool::NumberedFiles files;
  files.prefix = (dir_ / "part_").string();
  files.baseWidth = 1;
  for (uint64_t i = 0; i < 12; ++i) std::ofstream(tool::NumberedPath(files, i, files.baseWidth)) << i;
  std::ofstream(dir_ / "part_notes.txt") << "kept";
  std::string error;
  ASSERT_TRUE(tool::WidenNumberedNames(files, 12, &error)) << error;
  std::vector<std::string> found;
  tool::NumberedFiles widened = files;
  widened.baseWidth = 2;
  ASSERT_TRUE(tool::FindNumberedFiles(widened, &found, &error)) << error;
  ASSERT_EQ(found.size(), 12u);
  EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
  for (uint64_t i = 0; i < 12; ++i) {
    EXPECT_EQ(found[i], tool::NumberedPath(files, i, 2));
    std::ifstream in(found[i]);
    uint64_t content = 99;
    in >> content;
    EXPECT_EQ(content, i);
  }
  EXPECT_TRUE(tool::IsNumberedFile(files, found[3]));
  EXPECT_FALSE(tool::IsNumberedFile(files, (dir_ / "part_notes.txt").string()));
  EXPECT_FALSE(tool::IsNumberedFile(files, (dir_ / "part_.bin").string()));
  ASSERT_TRUE(tool::DeleteNumberedFiles(found, "part", &error));
  EXPECT_TRUE(fs::exists(dir_ / "part_notes.txt"));
}

}  // namespace
