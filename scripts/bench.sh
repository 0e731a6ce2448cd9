#!/usr/bin/env bash
# Builds the receiver and its benchmark (Release, without the tests) in
# build-bench/ and runs the benchmark: lockstep rounds at five frame sizes
# against the baseline writer, the 53 MB/s fixed-rate run, coalescing, a
# soak and a memcheck run. Prints the figures, ending with the ratio lines,
# and writes build-bench/receiver_bench.csv.
# Usage: scripts/bench.sh [receiver_bench options, e.g. --soak for the 60 s soak]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPI_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target receiver_bench spi-receiver baseline_writer >/dev/null
exec build-bench/receiver_bench --dir build-bench/bench-files --csv build-bench/receiver_bench.csv "$@"
