#!/usr/bin/env bash
# Builds and runs every test, as CI does: the format check; the normal build
# with warnings as errors and its suite; the Python module's tests; the
# receiver linked against an outside bridge library; what `cmake --install`,
# the .deb and the .tar.gz hold, and the installed programs at work
# (tests/install/install_test.sh); 30 s of fuzzing the capture reader and the
# recovery scan (15 s each); static analysis (scripts/lint.sh); the suite
# under AddressSanitizer+UBSan and under ThreadSanitizer, where the
# reliability tests run at a tenth of their count (SPI_RELIABILITY_SCALE
# overrides); last, the Windows target, both builds cross-built, tested under
# wine and packed as zips (scripts/test-windows.sh).
# Usage: scripts/test.sh [--quick]
#   --quick: the format check, the normal build and its suite, and the Python
#   module's tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each section says when it began, so that a slow one shows.
section() { echo "== $* (at ${SECONDS} s)"; }
scripts/install-deps.sh

section "format: every C++ file as .clang-format says"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

jobs=$(nproc)
# Ninja for a new build tree; one configured before (README's first command
# makes build/ with CMake's default generator) keeps its generator, as CMake
# refuses to switch a tree to another.
configure() {  # build-dir, cmake args...
  local dir=$1
  shift
  local generator=(-G Ninja)
  [ -f "$dir/CMakeCache.txt" ] && generator=()
  cmake -S . -B "$dir" "${generator[@]}" "$@" >/dev/null
}
run_suite() {  # build-dir, extra cmake args...
  local dir=$1
  shift
  section "${dir}: configure, build, test"
  configure "$dir" -DSPI_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  # The reliability tests run several receivers at once themselves and judge
  # them by how they keep up, so they run after the rest, one at a time.
  (cd "$dir" && ctest --output-on-failure -j "$jobs" -LE reliability && ctest --output-on-failure -L reliability)
}

run_suite build

# Debian's interpreter, the one python3-numpy serves; the built spi-capture is
# the reference the module is checked against.
section "python: the capture module"
SPI_CAPTURE_TOOL="$PWD/build/spi-capture" /usr/bin/python3 -m unittest discover -s python
[ "${1:-}" = "--quick" ] && exit 0

# The receiver linked through BRIDGE_LIBRARIES against an outside library (the
# simulator built under the vendor's name) must link it, not the simulator,
# and behave the same.
section "build-vendor: receiver against an outside bridge library"
vendor_lib="$PWD/build/vendor-stand-in/libft4222.so"
configure build-vendor -DSPI_WERROR=ON -DSPI_BUILD_TESTS=OFF -DBRIDGE_LIBRARIES="$vendor_lib"
cmake --build build-vendor -j "$jobs" --target spi-receiver
# ldd's output is taken whole first: grep -q stops reading at its match, and
# ldd, cut off, would fail the pipeline. (A negated pipeline would not stop
# the script under set -e either.)
linked=$(ldd build-vendor/spi-receiver)
grep -q "libft4222.so => $vendor_lib" <<<"$linked"
if grep -q libbridge_sim <<<"$linked"; then
  echo "build-vendor/spi-receiver links the simulated bridge"
  exit 1
fi
SPI_RECEIVER_UNDER_TEST="$PWD/build-vendor/spi-receiver" build/tests/receiver_test --gtest_brief=1

section "install: a temporary prefix, the .deb and the .tar.gz"
tests/install/install_test.sh build

section "fuzz: the capture reader and the recovery scan, 15 s each"
capture/run_fuzz.sh 15

section "lint: cppcheck and clang-tidy"
scripts/lint.sh
# The benchmark programs are built (and warning-free) in build/ already. The
# sanitizers' reports need only line tables (-g1), which compile faster.
sanitized=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DSPI_BUILD_BENCHMARKS=OFF)
run_suite build-asan "${sanitized[@]}" -DSPI_SANITIZE=address,undefined
run_suite build-tsan "${sanitized[@]}" -DSPI_SANITIZE=thread

# The Windows target: cross-built, checked and run under wine.
scripts/test-windows.sh
