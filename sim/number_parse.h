// The simulator's own number forms in scenario text, on top of plain decimal
// numbers (common::ParseDecimal): the whole string must be the number, with
// nothing around it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// A decimal integer with an optional decimal multiplier suffix k, M or G
// (1k = 1000), no larger than max.
bool ParseScaledUnsigned(const std::string& text, uint64_t max, uint64_t* value);

// A probability: a decimal fraction in [0, 1] such as 0.01 or 1.
bool ParseProbability(const std::string& text, double* value);

// "N" or "MIN-MAX" with low <= MIN <= MAX <= high; "N" gives MIN = MAX = N.
bool ParseRange(const std::string& text, uint64_t low, uint64_t high, uint64_t* min, uint64_t* max);

// Removes spaces and tabs at both ends.
std::string Trim(const std::string& text);

}  // namespace sim
