// Small helpers for turning what the benchmark observed into figures: the
// median of a round's values, and the numbers it reads back from
// /proc/PID/status and from the simulated bridge's stats file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The median; the mean of the middle two for an even count, 0 for none.
double Median(std::vector<double> values);

// The value of a "Key:   1234 kB" line of /proc/PID/status text, in KiB;
// false when the key is missing.
bool StatusKiB(const std::string& statusText, const std::string& key, uint64_t* kib);

// The value of a "key=123" line of the simulator's stats text; false when the
// key is missing or not a number.
bool StatsValue(const std::string& statsText, const std::string& key, uint64_t* value);

// The whole file as text; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace bench
