// Storage faults: a full disk, /dev/full, a missing folder, a read-only
// folder and a name that is a directory. Each must give the receiver's clear
// message and status 1, and a file that was written must end on a record
// boundary and hold only frames that were sent.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "frame_check.h"
#include "number_parse.h"
#include "run_support.h"

namespace {

// Where the receiver is told to write, or why the case cannot be set up here.
struct Target {
  std::string path;
  std::string mounted;  // a mount to undo afterwards
  std::string skip;
};

Target SmallTmpfs(const std::string& dir, bool readOnly) {
  Target target;
  const std::string mountPoint = dir + (readOnly ? "/ro" : "/full");
  std::filesystem::create_directories(mountPoint);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
    target.skip = "cannot mount a tmpfs (" + std::string(std::strerror(errno)) +
                  "); run as root, as CI does, to test a full or read-only file system";
    return target;
  }
  target.mounted = mountPoint;
  if (readOnly && mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m") != 0) {
    target.skip = "cannot remount the tmpfs read-only: " + std::string(std::strerror(errno));
  }
  target.path = mountPoint + "/capture.bin";
  return target;
}

Target ReadOnlyFolder(const std::string& dir) {
  // Root ignores permissions: only a read-only file system refuses it.
  if (geteuid() == 0) return SmallTmpfs(dir, true);
  Target target;
  const std::string folder = dir + "/ro";
  std::filesystem::create_directories(folder);
  chmod(folder.c_str(), 0555);
  target.path = folder + "/capture.bin";
  return target;
}

struct StorageCase {
  const char* name;
  Target (*prepare)(const std::string& dir);
  const char* frames;    // the generator's frame lengths
  const char* messages;  // the receiver's text, '|' between accepted alternatives
  bool writeFails;       // the file opens and a write fails
};

const StorageCase kStorageCases[] = {
    {"full disk, large frames", [](const std::string& dir) { return SmallTmpfs(dir, false); }, "13-65535",
     "Writing capture file %s failed: No space left on device\n", true},
    {"full disk, small frames", [](const std::string& dir) { return SmallTmpfs(dir, false); }, "13-300",
     "Writing capture file %s failed: No space left on device\n", true},
    {"full disk, tiny frames", [](const std::string& dir) { return SmallTmpfs(dir, false); }, "2-20",
     "Writing capture file %s failed: No space left on device\n", true},
    {"/dev/full",
     [](const std::string&) {
       return Target{"/dev/full", "", ""};
     },
     "13-65535", "Writing capture file %s failed: No space left on device\n", true},
    {"a name in a missing folder",
     [](const std::string& dir) {
       return Target{dir + "/missing/capture.bin", "", ""};
     },
     "4096", "Cannot create capture file %s: No such file or directory\n", false},
    {"a read-only folder", ReadOnlyFolder, "4096",
     "Cannot create capture file %s: Read-only file system\n|Cannot create capture file %s: Permission "
     "denied\n",
     false},
    {"an existing directory",
     [](const std::string& dir) {
       return Target{dir, "", ""};
     },
     "4096", "Cannot create capture file %s: Is a directory\n", false},
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The accepted messages with the path filled in.
std::vector<std::string> ExpectedMessages(const char* messages, const std::string& path) {
  std::vector<std::string> expected;
  std::string all = messages;
  size_t start = 0;
  for (;;) {
    const size_t bar = all.find('|', start);
    std::string message = all.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    message.replace(message.find("%s"), 2, path);
    expected.push_back(message);
    if (bar == std::string::npos) return expected;
    start = bar + 1;
  }
}

TEST(StorageFaults, EachGivesItsMessageAndStatus1AndAWholeRecordFile) {
  uint64_t faults = 0, bytes = 0;
  for (const StorageCase& storageCase : kStorageCases) {
    SCOPED_TRACE(storageCase.name);
    const std::string dir = MakeTempDir("spi_storage");
    ASSERT_FALSE(dir.empty());
    const Target target = storageCase.prepare(dir);
    if (!target.skip.empty()) {
      if (!target.mounted.empty()) umount(target.mounted.c_str());
      RemoveTree(dir);
      std::printf("[  SKIPPED ] %s: %s\n", storageCase.name, target.skip.c_str());
      continue;
    }
    sim::FrameShape shape;
    shape.seed = 11;
    RunOptions options;
    options.program = ReceiverPath();
    options.args = {target.path};
    options.env = {{"SPI_SIM", std::string("pacing=lockstep;seed=11;frame=") + storageCase.frames}};
    options.timeoutMs = 60000;
    const RunResult result = RunProgram(options);

    EXPECT_EQ(result.exitCode, 1) << DescribeRun(result);
    EXPECT_EQ(result.err, "");
    const std::string out = WithoutStatusLines(result.out);
    bool matched = false;
    for (const std::string& message : ExpectedMessages(storageCase.messages, target.path)) {
      matched |= EndsWith(out, message);
    }
    EXPECT_TRUE(matched) << DescribeRun(result);
    ++faults;

    std::error_code code;
    if (storageCase.writeFails && std::filesystem::is_regular_file(target.path, code)) {
      uint64_t low = 0, high = 0;
      ASSERT_TRUE(sim::ParseRange(storageCase.frames, 1, 65535, &low, &high));
      shape.minLength = static_cast<uint32_t>(low);
      shape.maxLength = static_cast<uint32_t>(high);
      FrameStreamCheck check;
      InitFrameStreamCheck(shape, CaptureExpectation::kExactPrefix, &check);
      std::string error;
      EXPECT_TRUE(CheckCaptureFile(target.path, &check, &error)) << error;
      EXPECT_GT(check.records, 0u) << "the disk filled before a single record";
      EXPECT_EQ(std::filesystem::file_size(target.path, code), check.fileBytes);
      bytes += check.bytes;
    }
    if (!target.mounted.empty()) umount(target.mounted.c_str());
    RemoveTree(dir);
  }
  PrintFigure("storage faults: " + std::to_string(faults) + " injected, " + std::to_string(bytes) +
              " bytes verified in the files they cut short");
}

}  // namespace
