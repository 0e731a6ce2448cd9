#include "spi_capture_test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "capture_encoder.h"
#include "process_harness.h"

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

std::vector<std::string> SplitArgs(const std::string& args) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (const char c : args) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      if (std::string("<>|$`;&").find(c) != std::string::npos) {
        ADD_FAILURE() << "no shell here: '" << c << "' in " << args;
      }
      word += c;
      inWord = true;
    }
  }
  EXPECT_EQ(quote, 0) << "unclosed quote in " << args;
  if (inWord) words.push_back(word);
  return words;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
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

std::string ReadText(const std::string& path) {
  return ReadText(fs::u8path(path));
}

Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

Bytes ReadBytes(const std::string& path) {
  return ReadBytes(fs::u8path(path));
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  WriteBytes(fs::u8path(path), bytes);
}

namespace {}  // namespace

std::string WithSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::string AsText(const std::string& written) {
  std::string text;
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n' && ConsoleText("\n") != "\n") {
      continue;
    }
    text += written[i];
  }
  return text;
}

namespace {

RunOptions CaptureOptions(const fs::path& dir, const std::vector<std::string>& args) {
  RunOptions options;
  options.program = CapturePath();
  options.args = args;
  options.workDir = dir.u8string();
  options.timeoutMs = 60000;
  return options;
}

}  // namespace

struct SpiCaptureTest::Started {
  RunOptions options;
  std::atomic<bool> stop{false};
  std::future<::RunResult> result;
};

SpiCaptureTest::SpiCaptureTest() = default;
SpiCaptureTest::~SpiCaptureTest() = default;

void SpiCaptureTest::SetUp() {
  dir_ = fs::u8path(MakeTempDir("spi_capture_test_" +
                                std::string(testing::UnitTest::GetInstance()->current_test_info()->name())));
  ASSERT_FALSE(dir_.empty());
  frames_ = {MakeFrame(6, 1), MakeFrame(2, 2), MakeFrame(40, 3)};
  good_ = Encode(frames_);
  WriteBytes(Path("good.cap"), good_);
  damaged_ = Concat({Encode({frames_[0], frames_[1]}), Bytes{'J', 9, 1, 0, 7, 7, 7}});
  WriteBytes(Path("damaged.cap"), damaged_);
}

void SpiCaptureTest::TearDown() {
  // Runs a test left running are stopped, not waited for.
  for (const std::unique_ptr<Started>& started : started_) {
    if (!started->result.valid()) continue;
    started->stop = true;
    started->result.get();
  }
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

RunResult SpiCaptureTest::RunArgs(const std::vector<std::string>& args, const RunInput& input) const {
  RunOptions options = CaptureOptions(dir_, args);
  if (!input.stdinFile.empty()) options.stdinFile = Path(input.stdinFile);
  options.stdinAsPipe = input.stdinAsPipe;
  const ::RunResult run = RunProgram(options);
  EXPECT_FALSE(run.timedOut) << "spi-capture did not end";
  RunResult result;
  result.status = run.timedOut ? -1 : run.exitCode;
  result.bytes = Bytes(run.out.begin(), run.out.end());
  result.out = AsText(run.out);
  result.err = AsText(run.err);
  return result;
}

RunResult SpiCaptureTest::Run(const std::string& args, const RunInput& input) const {
  return RunArgs(SplitArgs(args), input);
}

int SpiCaptureTest::Start(const std::vector<std::string>& args, const std::string& outName,
                          const std::string& errName) {
  auto started = std::make_unique<Started>();
  started->options = CaptureOptions(dir_, args);
  started->options.stdoutFile = Path(outName);
  started->options.stderrFile = Path(errName);
  started->options.interruptNow = &started->stop;
  started->options.timeoutMs = 60000;
  const RunOptions* options = &started->options;
  started->result = std::async(std::launch::async, [options] { return RunProgram(*options); });
  started_.push_back(std::move(started));
  return static_cast<int>(started_.size() - 1);
}

int SpiCaptureTest::Wait(int run, int timeoutMs) {
  Started& started = *started_.at(static_cast<size_t>(run));
  if (started.result.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
    ADD_FAILURE() << "spi-capture " << started.options.args.front() << " still running after " << timeoutMs
                  << " ms";
    started.stop = true;  // else the harness kills it at its own timeout
  }
  const ::RunResult result = started.result.get();
  return result.timedOut ? -1 : result.exitCode;
}

bool SpiCaptureTest::Running(int run) const {
  return started_.at(static_cast<size_t>(run))->result.wait_for(std::chrono::seconds(0)) !=
         std::future_status::ready;
}

void SpiCaptureTest::Stop(int run, int signal) {
  Started& started = *started_.at(static_cast<size_t>(run));
  started.options.interruptSignal = signal;
  started.stop = true;
}

std::vector<int> SpiCaptureTest::StopRequests() {
  return StopSignals();
}

bool SpiCaptureTest::CanStop(int signal, std::string* reason) {
  return CanSendStopSignal(signal, reason);
}

std::string SpiCaptureTest::StopName(int signal) {
  return StopSignalName(signal);
}

}  // namespace spi_capture_test
