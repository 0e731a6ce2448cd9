#!/usr/bin/env bash
# Static analysis with the checked-in configurations: cppcheck
# (.cppcheck-suppressions) over all POSIX sources and tests, clang-tidy
# (.clang-tidy) over the program, simulator, tools and test support. Any
# finding fails. Windows-only files need MinGW's headers; the Windows build
# compiles them with -Werror instead.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${LINT_JOBS:-$(nproc)}

sources=$(git ls-files '*.cpp' | grep -v -e win32 -e _fuzz.cpp)

echo "== cppcheck"
# shellcheck disable=SC2086
cppcheck --enable=warning,performance,portability --std=c++17 --language=c++ --library=googletest \
  --inline-suppr --suppressions-list=.cppcheck-suppressions --error-exitcode=1 -q -j "$jobs" \
  -I app -I bridge -I capture -I common -I platform -I sim -I tests -I tests/reliability -I tools $sources

echo "== clang-tidy"
cmake -S . -B build-lint -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# Test programs are left to the compiler's warnings: GoogleTest's macros
# expand to code that several bug-finding checks misread.
# One file per run: clang-tidy 14's analyser, given several files at once,
# reports a va_list in app/console.cpp as uninitialised that is not.
# Findings are errors (.clang-tidy: WarningsAsErrors) and fail the run, and
# what clang-tidy says on standard error (a file it cannot compile, for one)
# is shown; only its count of warnings per file is left out.
chatter='^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
if ! echo "$sources" | grep -v _test.cpp | xargs -P "$jobs" -n 1 clang-tidy -p build-lint --quiet \
  2> >(grep -v -E "$chatter" >&2); then
  echo "lint: clang-tidy failed (above)"
  exit 1
fi
echo "lint: clean"
