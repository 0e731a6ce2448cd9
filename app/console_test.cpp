#include "console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

// Another thread printing as fast as it can must not get a word in after
// PrintLast, nor inside its text. Runs in a child process: the console stays
// frozen afterwards.
void PrintLastWhileAnotherThreadPrints(const std::string& path) {
  std::fflush(stdout);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || dup2(fd, 1) < 0) _exit(2);
  std::thread printer([] {
    for (;;) Print("x\n");
  });
  printer.detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PrintLast("\nlast words");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::string tail = "x\n\nlast words";
  const bool ok =
      text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  // The child names the file after its own process, so it removes it too.
  std::remove(path.c_str());
  _exit(ok ? 0 : 1);
}

TEST(ConsoleTest, NothingFollowsPrintLast) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = ::testing::TempDir() + "console_test_" + std::to_string(getpid()) + ".txt";
  EXPECT_EXIT(PrintLastWhileAnotherThreadPrints(path), ::testing::ExitedWithCode(0), "");
}

}  // namespace
