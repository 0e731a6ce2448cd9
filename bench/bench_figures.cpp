#include "bench_figures.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "decimal_number.h"

namespace bench {

namespace {

// The text after "key" at the start of a line, up to the line's end; false
// when no line starts with it.
bool LineAfter(const std::string& text, const std::string& key, std::string* rest) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size(), key) == 0) {
      *rest = line.substr(key.size());
      return true;
    }
  }
  return false;
}

// The first word of text, which must be a number: "   1234 kB" gives 1234.
bool ParseNumber(const std::string& text, uint64_t* value) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  const size_t end = text.find_first_of(" \t", start);
  return common::ParseDecimal(std::string_view(text).substr(start, end - start), UINT64_MAX, value);
}

}  // namespace

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2;
}

bool StatusKiB(const std::string& statusText, const std::string& key, uint64_t* kib) {
  std::string rest;
  return LineAfter(statusText, key + ":", &rest) && ParseNumber(rest, kib);
}

bool StatsValue(const std::string& statsText, const std::string& key, uint64_t* value) {
  std::string rest;
  return LineAfter(statsText, key + "=", &rest) && ParseNumber(rest, value);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace bench
