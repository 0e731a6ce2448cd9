# shellcheck shell=bash
# Checks shared by the install and package tests. Sourced, not run.
# Each check prints "ok: WHAT" or "FAIL: WHAT" with the difference; finish
# prints the "N passed, N failed" line and fails if any check did.

passed=0
failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }

expect_eq() {  # what, expected, actual
  if [ "$2" = "$3" ]; then
    pass "$1"
  else
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/  /'
  fi
}

expect_true() {  # what, command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

finish() {
  echo "${passed} passed, ${failed} failed"
  [ "$failed" -eq 0 ]
}

# Every file and symbolic link under a directory, relative to it, sorted.
file_list() {  # dir
  (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}

# The files under a directory that contain a text (binary files too).
files_containing() {  # dir, text
  grep -rlF -- "$2" "$1" || true
}
