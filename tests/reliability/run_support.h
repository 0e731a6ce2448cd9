// What the reliability tests share: where the programs are, how many runs to
// make, running children side by side, and the figures they report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "process_harness.h"

std::string ReceiverPath();

// Multiplies every run count and duration. SPI_RELIABILITY_SCALE overrides
// it; the default is 1, and 0.2 in a sanitizer build, whose receiver runs
// several times slower.
double ReliabilityScale();

// count * scale, at least minimum.
int Scaled(int count, int minimum);

// The seed the random choices of a test start from: SPI_RELIABILITY_SEED, or
// a fixed default so that a failure repeats.
uint64_t ReliabilitySeed();

// Runs job(0) .. job(count - 1) on up to `parallel` threads at once.
void ParallelFor(size_t count, int parallel, const std::function<void(size_t)>& job);

// A fresh directory for captures: in /dev/shm when it has room (the runs
// write gigabytes, which need not reach a disk), else the temporary directory.
std::string MakeScratchDir(const std::string& prefix);

// Removes a directory tree; ignores errors.
void RemoveTree(const std::string& path);

// The value at quantile q (0..1) of the samples; 0 when there are none.
double Quantile(std::vector<double> samples, double q);

// Prints "[ figures  ] text" so the figures stand out in the test log.
void PrintFigure(const std::string& text);

// Whether standard output ends with the interrupt's closing text.
bool EndsWithClosingText(const std::string& out);

// A short description of a run for failure messages: exit, signal, output tail.
std::string DescribeRun(const RunResult& result);
