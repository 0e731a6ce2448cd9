#include "spi_capture_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "capture_encoder.h"

namespace spi_capture_test {

namespace fs = std::filesystem;

std::string CapturePath() {
  const char* other = std::getenv("SPI_CAPTURE_UNDER_TEST");
  return other != nullptr && *other != '\0' ? other : SPI_CAPTURE_PATH;
}

Bytes MakeFrame(size_t n, uint8_t seed) {
  Bytes frame(n);
  frame[0] = 'J';
  for (size_t i = 1; i < n; ++i) frame[i] = static_cast<uint8_t>(seed + i * 3);
  return frame;
}

Bytes Encode(const std::vector<Bytes>& frames) {
  Bytes out;
  std::string error;
  for (const Bytes& frame : frames) {
    EXPECT_TRUE(capture::EncodeCaptureRecord(frame.data(), frame.size(), &out, &error)) << error;
  }
  return out;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void SpiCaptureTest::SetUp() {
  dir_ = fs::temp_directory_path() /
         ("spi_capture_test_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
          "_" + std::to_string(::getpid()));
  fs::create_directories(dir_);
  frames_ = {MakeFrame(6, 1), MakeFrame(2, 2), MakeFrame(40, 3)};
  good_ = Encode(frames_);
  WriteBytes(Path("good.cap"), good_);
  damaged_ = Concat({Encode({frames_[0], frames_[1]}), Bytes{'J', 9, 1, 0, 7, 7, 7}});
  WriteBytes(Path("damaged.cap"), damaged_);
}

void SpiCaptureTest::TearDown() {
  fs::remove_all(dir_);
}

int SpiCaptureTest::Start(const std::vector<std::string>& args, const std::string& outName,
                          const std::string& errName) const {
  std::vector<std::string> argv = {CapturePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const std::string out = Path(outName);
  const std::string err = Path(errName);
  const pid_t pid = fork();
  if (pid == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0 || errFd < 0 || chdir(dir_.c_str()) != 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
      _exit(127);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  return pid;
}

int SpiCaptureTest::Wait(int pid, int timeoutMs) {
  for (int waited = 0;; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (waited >= timeoutMs) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "process " << pid << " still running after " << timeoutMs << " ms";
      return -1;
    }
    usleep(10 * 1000);
  }
}

RunResult SpiCaptureTest::Run(const std::string& args, const std::string& before,
                              const std::string& after) const {
  const std::string out = Path("stdout.txt");
  const std::string err = Path("stderr.txt");
  const std::string command = "cd '" + dir_.string() + "' && { " + before + " '" + CapturePath() + "' " +
                              args + " " + after + "; } >'" + out + "' 2>'" + err + "'";
  RunResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadText(out);
  result.err = ReadText(err);
  return result;
}

}  // namespace spi_capture_test
