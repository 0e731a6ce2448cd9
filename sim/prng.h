// Small deterministic random numbers for the simulator: a mixing function for
// values derived from (seed, sequence number) and a sequential generator for
// fault decisions. Both are the same on every platform, so a seed reproduces
// a run anywhere.
#pragma once

#include <cstdint>

namespace sim {

// A bijective 64-bit mix (splitmix64 finaliser): nearby inputs give unrelated
// outputs.
inline uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Prng {
  uint64_t state = 0;
};

inline uint64_t NextRandom(Prng* prng) {
  prng->state += 0x9E3779B97F4A7C15ull;
  return Mix64(prng->state);
}

// Uniform in [0, 1).
inline double UnitFromBits(uint64_t bits) {
  return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

inline double NextUnit(Prng* prng) {
  return UnitFromBits(NextRandom(prng));
}

// Uniform in [low, high]; high >= low.
inline uint64_t NextInRange(Prng* prng, uint64_t low, uint64_t high) {
  const uint64_t span = high - low + 1;
  return span == 0 ? NextRandom(prng) : low + NextRandom(prng) % span;
}

}  // namespace sim
