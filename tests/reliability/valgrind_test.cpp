// A short recording under valgrind memcheck: interrupted while recording,
// and ended by a write failure. Both must run without a memory error or a
// definite leak.
#include <gtest/gtest.h>

#include <cstdlib>

#include "run_support.h"

namespace {

struct MemcheckCase {
  const char* name;
  const char* capture;  // empty: a fresh file
  bool interrupt;
};

const MemcheckCase kMemcheckCases[] = {
    {"recording, interrupted", "", true},
    {"write failure on /dev/full", "/dev/full", false},
};

TEST(Memcheck, RecordingHasNoMemoryErrors) {
#ifdef SPI_SANITIZER_BUILD
  GTEST_SKIP() << "valgrind does not run sanitizer builds; the normal build runs this";
#endif
  if (std::system("valgrind --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "valgrind is not installed";
  const std::string dir = MakeTempDir("spi_memcheck");
  for (const MemcheckCase& memcheckCase : kMemcheckCases) {
    SCOPED_TRACE(memcheckCase.name);
    RunOptions options;
    options.program = "/usr/bin/valgrind";
    const std::string capture = *memcheckCase.capture != '\0' ? memcheckCase.capture : dir + "/capture.bin";
    options.args = {"--tool=memcheck",
                    "--error-exitcode=99",
                    "--leak-check=full",
                    "--show-leak-kinds=definite",
                    "--errors-for-leak-kinds=definite",
                    "--quiet",
                    ReceiverPath(),
                    capture};
    options.env = {{"SPI_SIM",
                    "pacing=lockstep;frame=2-65535;nonj=0.05;seed=3;short_read=0.05;"
                    "fail=FT4222_SPISlave_Read:4%0.05;delay=FT4222_SPISlave_Read:0-2"}};
    if (memcheckCase.interrupt) {
      options.interruptOnOutput = "Transfer Speed";  // recording for a second
      options.interruptDelayMs = 1000;
    }
    options.timeoutMs = 120000;
    const RunResult result = RunProgram(options);
    // 99: valgrind found a memory error or a definite leak. Its other notes
    // (threads the interrupt leaves running own their stacks) are no fault.
    EXPECT_EQ(result.exitCode, 1) << DescribeRun(result);
    PrintFigure(std::string("memcheck, ") + memcheckCase.name + ": exit " + std::to_string(result.exitCode) +
                ", " + std::to_string(result.seconds) + " s, report " +
                (result.exitCode == 1 ? "clean" : "NOT clean"));
  }
  RemoveTree(dir);
}

}  // namespace
