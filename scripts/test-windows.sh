#!/usr/bin/env bash
# The Windows target: cross-builds the 32-bit and 64-bit programs with
# MinGW-w64 (warnings as errors), checks the 32-bit import table, runs the
# unit tests and the process tests of the 64-bit build under wine. 32-bit
# programs cannot run here (no 32-bit wine), so the i686 build is built and
# inspected only. Last, packs both builds as zips and checks them
# (tests/install/windows_zip_test.sh).
# Usage: scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

scripts/install-deps.sh cmake ninja-build mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 googletest bsdutils

build() {  # dir, toolchain
  echo "== $1: configure, build"
  cmake -S . -B "$1" -G Ninja -DSPI_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$2.cmake" >/dev/null
  cmake --build "$1" -j2
}
build build-win32 mingw-i686
build build-win64 mingw-x86_64

echo "== build-win32: import table and resources"
(cd build-win32 && ctest --output-on-failure -R '^exe_check$')

# One wine prefix for every run: creating it is the slow part.
WINEPREFIX=$(mktemp -d /tmp/spi-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
echo "== wine: creating a prefix"
wineboot --init >/dev/null 2>&1 || true
wineserver -w

echo "== build-win64: unit tests under wine"
(cd build-win64 && ctest --output-on-failure -j2)

if [ -f sim/CMakeLists.txt ]; then
  echo "== build: the Linux build, for comparing captures"
  cmake -S . -B build -G Ninja -DSPI_WERROR=ON >/dev/null
  cmake --build build -j2 --target spi-receiver
  echo "== build-win64: process tests under wine"
  tests/windows/run_wine_tests.sh build-win64 build
else
  echo "== process tests skipped: this tree has no simulated bridge (sim/) yet"
fi

echo "== the Windows zips"
tests/install/windows_zip_test.sh build-win32 build-win64

echo "== Windows tests done in $((SECONDS - start)) s"
