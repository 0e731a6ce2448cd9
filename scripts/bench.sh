#!/usr/bin/env bash
# Builds the receiver and its benchmark (Release, without the tests) in
# build-bench/ and runs the benchmark: lockstep rounds at five frame sizes
# against the baseline writer, the 53 MB/s fixed-rate run, coalescing, a
# soak and a memcheck run. Prints the figures, ending with the ratio lines,
# and writes build-bench/receiver_bench.csv.
#
# With --before REV it also builds the receiver of git revision REV and
# benchmarks it first, in the same run and against the same baseline, then
# prints both receivers' ratio lines side by side: a change to the receiver
# must not make them fall.
# Usage: scripts/bench.sh [--before REV] [receiver_bench options, e.g. --soak]
set -euo pipefail
cd "$(dirname "$0")/.."
before=""
if [ "${1:-}" = "--before" ]; then
  before=${2:?--before needs a git revision}
  shift 2
fi
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPI_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target receiver_bench spi-receiver baseline_writer >/dev/null
run() {  # csv, receiver_bench options...
  local csv=$1
  shift
  build-bench/receiver_bench --dir build-bench/bench-files --csv "$csv" "$@"
}
if [ -z "$before" ]; then
  run build-bench/receiver_bench.csv "$@"
  exit
fi

# The other revision's receiver, built from a checkout of its own.
source_dir=build-bench/before-source
git worktree remove --force "$source_dir" >/dev/null 2>&1 || rm -rf "$source_dir"
git worktree add --detach "$source_dir" "$before" >/dev/null
trap 'git worktree remove --force "$source_dir" >/dev/null 2>&1 || true' EXIT
cmake -S "$source_dir" -B build-bench/before -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPI_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench/before -j2 --target spi-receiver >/dev/null

echo "== before: the receiver of $before"
run build-bench/receiver_bench_before.csv --receiver build-bench/before/spi-receiver "$@" | tee build-bench/before.txt
echo "== after: the receiver of this tree"
run build-bench/receiver_bench.csv "$@" | tee build-bench/after.txt
echo "== ratios, receiver/baseline: before | after"
paste -d'|' <(grep '^ratio ' build-bench/before.txt) <(grep '^ratio ' build-bench/after.txt)
