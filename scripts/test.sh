#!/usr/bin/env bash
# Builds and runs every test: the normal build with warnings as errors, then
# static analysis (scripts/lint.sh), then the same suite under
# AddressSanitizer+UBSan and under ThreadSanitizer, where the reliability
# tests run at a fifth of their count (SPI_RELIABILITY_SCALE overrides).
# Usage: scripts/test.sh [--quick]   (--quick: the normal build only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {  # build-dir, extra cmake args...
  local dir=$1
  shift
  echo "== ${dir}: configure, build, test"
  cmake -S . -B "$dir" -G Ninja -DSPI_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build
[ "${1:-}" = "--quick" ] && exit 0
scripts/lint.sh
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSPI_SANITIZE=address,undefined
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DSPI_SANITIZE=thread
