// The benchmark's baseline: appends the records the receiver would store for
// the simulated bridge's generated frames (seed 1, every frame a 'J' frame of
// one length), one write() per record, until SIGINT. What it reaches is the
// cost that storing every record on its own makes unavoidable.
//   baseline_writer FILE FRAME_LENGTH
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture_format.h"
#include "decimal_number.h"
#include "generated_frame.h"
#include "platform.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnInterrupt(int) {
  g_stop = 1;
}

// One write() per record; a short write is finished off rather than dropped.
bool WriteRecord(int fd, const uint8_t* record, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, record, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    record += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t length = 0;
  if (argc != 3 || !common::ParseDecimal(argv[2], sim::kMaxFrameLength, &length) || length < 2) {
    std::fprintf(stderr, "usage: baseline_writer FILE FRAME_LENGTH (2..65535)\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "cannot create %s: %s\n", argv[1], platform::ErrorText(errno).c_str());
    return 1;
  }
  sim::FrameShape shape;  // the scenario the benchmark gives the receiver
  shape.minLength = shape.maxLength = static_cast<uint32_t>(length);
  shape.nonJShare = 0;
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(shape, &generator);

  const uint16_t n = static_cast<uint16_t>(length);
  // The record forms where the frame lies, as in the receiver: writing it is
  // the only copy.
  std::vector<uint8_t> buffer(capture::kFrameHeadroom + n);
  for (uint64_t seq = 0; g_stop == 0; ++seq) {
    sim::WriteGeneratedFrame(generator, seq, buffer.data() + capture::kFrameHeadroom);
    capture::MakeRecordInPlace(buffer.data(), n);
    if (!WriteRecord(fd, buffer.data(), capture::RecordSize(n))) {
      std::fprintf(stderr, "writing %s failed: %s\n", argv[1], platform::ErrorText(errno).c_str());
      return 1;
    }
  }
  return close(fd) == 0 ? 0 : 1;
}
