#!/usr/bin/env bash
# The Windows target: cross-builds the 32-bit and 64-bit programs with
# MinGW-w64 (warnings as errors) and runs every test of each under wine, the
# 32-bit build in a 32-bit prefix, the 64-bit build in a 64-bit one: the unit
# tests, the process tests against spi-receiver.exe with the simulated
# bridge's DLLs beside it, Ctrl+C typed on a terminal, and on 32 bits the
# import table and the calling conventions. The 32-bit build also records
# past 4 GiB, on the disk and on a file system that fills up there, where
# there is room (and, for the latter, where mounting is allowed).
# Last, packs both builds as zips and checks them
# (tests/install/windows_zip_test.sh).
# Usage: scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

scripts/install-deps.sh cmake ninja-build mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 wine32:i386 googletest bsdutils

# Optimised as the build type says, without debug information: nothing here
# reads it, and it was a third of MinGW's compile time.
build() {  # dir, toolchain
  echo "== $1: configure, build"
  cmake -S . -B "$1" -G Ninja -DSPI_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$2.cmake" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" >/dev/null
  cmake --build "$1" -j2
}
export WINEDEBUG=-all
scratch=$(mktemp -d /tmp/spi-windows-tests.XXXXXX)
full_mount=""
keepers=()
cleanup() {
  for fd in "${keepers[@]}"; do
    exec {fd}>&-
  done
  for prefix in "$scratch"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
  [ -n "$full_mount" ] && umount "$full_mount" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# One prefix per architecture for every run. Creating one takes a while and
# little CPU, so both are made while the programs build.
make_prefix() {  # win32 | win64
  local prefix=$scratch/prefix-$1
  WINEPREFIX=$prefix WINEARCH=$1 wineboot --init >"$scratch/wineboot-$1.log" 2>&1 &&
    WINEPREFIX=$prefix wineserver -w
}
wait_for_prefix() {  # pid, win32 | win64
  if ! wait "$1"; then
    cat "$scratch/wineboot-$2.log" >&2
    echo "wineboot could not make the $2 prefix" >&2
    exit 1
  fi
}
echo "== wine: creating a win32 and a win64 prefix"
make_prefix win32 &
boot32=$!
make_prefix win64 &
boot64=$!
build build-win32 mingw-i686
build build-win64 mingw-x86_64
wait_for_prefix "$boot32" win32
wait_for_prefix "$boot64" win64
prefix32=$scratch/prefix-win32
prefix64=$scratch/prefix-win64

# A wine program that waits, for each prefix, while the tests run. Without
# it the first test program starts wineserver and the prefix's services,
# which keep that program's output pipes open until the last test ends: ctest
# then counts it as running all along and runs the rest one at a time.
keep_wine_up() {  # prefix
  local fifo
  fifo=$(mktemp -u "$scratch/keep.XXXXXX")
  mkfifo "$fifo"
  WINEPREFIX=$1 wine cmd <"$fifo" >/dev/null 2>&1 &
  local keeper
  exec {keeper}>"$fifo"  # cmd waits for input until this closes
  keepers+=("$keeper")
}
keep_wine_up "$prefix32"
keep_wine_up "$prefix64"

# Scratch space for the 32-bit large captures. A file system that fills up
# past 4 GiB is a 4.25 GiB tmpfs (root only), seen by wine as a drive of its
# own so that the test sees its free space. Each test checks the room it
# needs and skips, saying why, without it.
large=()
if [ "$(df --output=avail -B1M /tmp | tail -1)" -ge 6144 ]; then
  mkdir -p "$scratch/large"
  large+=(SPI_LARGE_CAPTURE_DIR="$scratch/large")
else
  echo "note: /tmp has under 6 GiB free: the 32-bit build does not record past 4 GiB on the disk"
fi
mkdir -p "$scratch/full"
if mount -t tmpfs -o size=4352m tmpfs "$scratch/full" 2>/dev/null; then
  full_mount=$scratch/full
  ln -s "$full_mount" "$prefix32/dosdevices/s:"
  large+=(SPI_FULL_PAST_4GIB_DIR='S:\')
else
  echo "note: cannot mount a tmpfs here: the 32-bit build's disk-full-past-4-GiB test is skipped"
fi

echo "== build-win32: every test under 32-bit wine"
(cd build-win32 && env WINEPREFIX="$prefix32" "${large[@]}" ctest --output-on-failure -j2)
# What the large captures measured, and which cases were skipped and why.
grep -a -h -E -A1 '^\[ figures  \]|: Skipped$' build-win32/Testing/Temporary/LastTest.log | grep -a -v '^--' || true

echo "== build-win64: every test under 64-bit wine"
(cd build-win64 && WINEPREFIX=$prefix64 ctest --output-on-failure -j2)

echo "== the Windows zips"
WINEPREFIX=$prefix32 tests/install/windows_zip_test.sh build-win32
WINEPREFIX=$prefix64 tests/install/windows_zip_test.sh build-win64

echo "== Windows tests done in $((SECONDS - start)) s"
