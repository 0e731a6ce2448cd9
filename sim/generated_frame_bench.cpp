// Prints how fast the generator produces frames in lockstep, the path the
// receiver's worst-case benchmarks exercise. Generation must stay far
// cheaper than what the receiver does with a frame.
#include <chrono>
#include <cstdio>
#include <vector>

#include "generated_frame.h"

namespace {

void Measure(const char* label, uint32_t minLength, uint32_t maxLength) {
  sim::FrameShape shape;
  shape.minLength = minLength;
  shape.maxLength = maxLength;
  sim::FrameGenerator generator;
  sim::InitFrameGenerator(shape, &generator);
  std::vector<uint8_t> out(sim::kMaxFrameLength);
  uint64_t bytes = 0;
  uint64_t frames = 0;
  uint64_t sink = 0;
  const auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  do {
    for (int i = 0; i < 4096; ++i) {
      bytes += sim::WriteGeneratedFrame(generator, frames++, out.data());
      sink += out[9];  // keeps the writes observable
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 0.5);
  std::printf("%-22s %8.2f GB/s  %10.0f frames/s  (check %llu)\n", label, bytes / seconds / 1e9,
              frames / seconds, static_cast<unsigned long long>(sink % 10));
}

}  // namespace

int main() {
  Measure("frame=4096", 4096, 4096);
  Measure("frame=65535", 65535, 65535);
  Measure("frame=64-65535", 64, 65535);
  Measure("frame=64", 64, 64);
  return 0;
}
