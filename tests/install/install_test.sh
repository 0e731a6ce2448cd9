#!/usr/bin/env bash
# What a user gets from a Linux build: installs it into a temporary prefix and
# packs it as the .deb and the .tar.gz, then checks the file lists; that
# spi-receiver needs the vendor's library by name and never the simulator,
# and does not start without it; RUNPATHs relative to the programs and no
# trace of the build tree; the installed programs running from another
# directory (the receiver's and spi-capture's process tests, run against the
# installed copies); and the manual pages rendering without warnings, the
# spi-capture page covering every command and option the tool has.
# Usage: tests/install/install_test.sh BUILD_DIR   (a build with the tests)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
# shellcheck source=tests/install/checks.sh
source "$here/checks.sh"

tmp=$(mktemp -d /tmp/spi-install-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
work=$tmp/work
mkdir -p "$work"

# What an installation holds, relative to its prefix; the Python module only
# where the tree has one.
expected_files() {
  {
    printf '%s\n' bin/spi-capture bin/spi-receiver bin/spi-receiver-sim lib/spi-receiver/libbridge_sim.so \
      share/doc/spi-receiver/{BENCHMARKS.md,README.md,RELIABILITY.md,capture-format.md,sim-frame.layout,simulator.md} \
      share/man/man1/{spi-capture.1,spi-receiver-sim.1,spi-receiver.1}
    for module in "$root"/python/*.py; do
      if [ -f "$module" ] && [[ $(basename "$module") != test_*.py && $module != *_test.py ]]; then
        echo "lib/python3/dist-packages/$(basename "$module")"
      fi
    done
  } | LC_ALL=C sort
}

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'; }
runpath() { readelf -d "$1" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p'; }

# The receiver as installed under a root: the vendor's library by name, never
# the simulator.
check_receiver_links() {  # what, installation root
  expect_true "$1: spi-receiver needs libft4222.so" bash -c "readelf -d '$2/bin/spi-receiver' | grep -q '(NEEDED).*\[libft4222\.so\]'"
  expect_eq "$1: spi-receiver needs no simulator" "" "$(needed "$2/bin/spi-receiver" | grep bridge_sim)"
  expect_eq "$1: spi-receiver-sim needs the simulator" "libbridge_sim.so" "$(needed "$2/bin/spi-receiver-sim" | grep bridge_sim)"
}

echo "== cmake --install into a temporary prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.txt" 2>&1; then
  cat "$tmp/install.txt"
  fail "cmake --install"
  finish
  exit
fi
expect_eq "installed files" "$(expected_files)" "$(file_list "$prefix")"
check_receiver_links prefix "$prefix"
# shellcheck disable=SC2016 # $ORIGIN is for the loader, not the shell
expect_eq "spi-receiver's RUNPATH" '$ORIGIN/../lib' "$(runpath "$prefix/bin/spi-receiver")"
# shellcheck disable=SC2016
expect_eq "spi-receiver-sim's RUNPATH" '$ORIGIN/../lib/spi-receiver' "$(runpath "$prefix/bin/spi-receiver-sim")"
expect_eq "no RUNPATH in spi-capture and the simulator" "" \
  "$(runpath "$prefix/bin/spi-capture")$(runpath "$prefix/lib/spi-receiver/libbridge_sim.so")"
expect_eq "no installed file names the build tree" "" "$(files_containing "$prefix" "$build")"

echo "== the installed programs, run from another directory"
if ldconfig -p | grep 'libft4222\.so' >/dev/null; then  # not -q: ldconfig must not be cut off
  echo "note: this machine has a libft4222.so; not checking that spi-receiver fails to start without it"
else
  (cd "$work" && env -u LD_LIBRARY_PATH "$prefix/bin/spi-receiver" none.bin >out.txt 2>err.txt)
  rc=$?
  expect_eq "without the vendor's library spi-receiver does not start: status 127" 127 "$rc"
  expect_true "the loader names the missing library" grep -q 'libft4222\.so: cannot open shared object file' "$work/err.txt"
  expect_eq "nothing printed" "" "$(cat "$work/out.txt")"
  expect_true "no capture created" test ! -e "$work/none.bin"
fi

# A GoogleTest program passes only when it ran tests, and each pattern of a
# --gtest_filter names at least one: after a rename a filter would otherwise
# select nothing, and nothing run is a pass.
run_tests() {  # what, log name, VAR=value... program [arguments]
  local what=$1 log=$tmp/$2.log
  shift 2
  local arg pattern patterns=() unmatched=""
  for arg in "$@"; do
    [[ $arg == --gtest_filter=* ]] && IFS=: read -ra patterns <<<"${arg#--gtest_filter=}"
  done
  for pattern in "${patterns[@]}"; do
    # The last --gtest_filter given is the one GoogleTest takes.
    (cd "$work" && env "$@" --gtest_list_tests --gtest_filter="$pattern") | grep -q '^  ' ||
      unmatched+=" $pattern"
  done
  if (cd "$work" && env "$@" --gtest_brief=1 >"$log" 2>&1); then
    local ran
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .*/\1/p' "$log")
    if [ -n "$unmatched" ]; then
      fail "$what: no test is named$unmatched"
    elif [ "${ran:-0}" -eq 0 ]; then
      fail "$what: no test ran"
      cat "$log"
    else
      pass "$what ($ran tests)"
    fi
  else
    fail "$what"
    cat "$log"
  fi
}
run_tests "receiver process tests against the installed spi-receiver-sim" receiver-sim \
  SPI_RECEIVER_UNDER_TEST="$prefix/bin/spi-receiver-sim" "$build/tests/receiver_test"
# The vendor's library is played by the simulator under its name.
run_tests "the installed spi-receiver records through a libft4222.so" receiver-vendor \
  SPI_RECEIVER_UNDER_TEST="$prefix/bin/spi-receiver" LD_LIBRARY_PATH="$build/vendor-stand-in" \
  "$build/tests/receiver_test" --gtest_filter='Receiver.RecordsTheDefaultSimulatedStreamUntilCtrlC:ReceiverCaptureRoundTrip.*'
run_tests "spi-capture process tests against the installed spi-capture" spi-capture \
  SPI_CAPTURE_UNDER_TEST="$prefix/bin/spi-capture" "$build/tests/spi_capture_test"
for module in "$prefix"/lib/python3/dist-packages/*.py; do
  [ -f "$module" ] || continue
  name=$(basename "$module" .py)
  expect_eq "python3 imports the installed $name" "$module" \
    "$(cd "$work" && PYTHONPATH="$prefix/lib/python3/dist-packages" /usr/bin/python3 -c "import $name; print($name.__file__)")"
done

echo "== manual pages"
for page in "$prefix"/share/man/man1/*.1; do
  name=$(basename "$page")
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$tmp/$name.txt" 2>"$tmp/$name.err"
  expect_eq "$name renders without warnings" "" "$(cat "$tmp/$name.err")"
  expect_true "$name renders text" test -s "$tmp/$name.txt"
done
expect_eq "man finds the pages in the prefix" "$prefix/share/man/man1/spi-receiver-sim.1" \
  "$(man --manpath="$prefix/share/man" -w spi-receiver-sim)"

# The lines of the spi-capture page from the first subsection of a command
# to the next section or another command's subsection, with \- as -.
page_section() {  # command
  awk -v c="$1" '/^\.S[HS] / { on = ($1 == ".SS" && $2 == c) } on' "$prefix/share/man/man1/spi-capture.1" | sed 's/\\-/-/g'
}
commands=$("$prefix/bin/spi-capture" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }')
expect_true "spi-capture --help lists commands" test -n "$commands"
for command in $commands; do
  section=$(page_section "$command")
  if [ -z "$section" ]; then
    fail "spi-capture.1 describes the command $command"
    continue
  fi
  missing=""
  for option in $("$prefix/bin/spi-capture" help "$command" | grep -oE -- '(^|[][ |])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u); do
    grep -qE -- "(^|[^a-z-])${option}([^a-z-]|$)" <<<"$section" || missing+=" $option"
  done
  expect_eq "spi-capture.1 describes $command and its options" "" "$missing"
done

echo "== packages: .deb and .tar.gz"
version=$("$prefix/bin/spi-capture" --version | awk '{ print $2 }')
if ! (cd "$build" && cpack -G "DEB;TGZ" -B "$tmp/packages" >"$tmp/cpack.txt" 2>&1); then
  cat "$tmp/cpack.txt"
  fail "cpack makes the .deb and the .tar.gz"
  finish
  exit
fi
deb=$tmp/packages/spi-receiver_${version}_$(dpkg --print-architecture).deb
expect_true "the .deb is named for the version and the architecture" test -f "$deb"
expect_eq "the .deb depends on the C and C++ runtime only" "libc6 libgcc-s1 libstdc++6" \
  "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{ print $1 }' | LC_ALL=C sort | xargs)"
expect_true "the .deb's description says the vendor's library is needed" \
  bash -c "dpkg-deb -f '$deb' Description | grep -q 'needs the bridge vendor.s library (libft4222.so)'"
dpkg -x "$deb" "$tmp/root"
expect_eq "the .deb installs into /usr" "$(expected_files | sed 's|^|usr/|')" "$(file_list "$tmp/root")"
check_receiver_links ".deb" "$tmp/root/usr"
expect_eq "no file of the .deb names the build tree" "" "$(files_containing "$tmp/root" "$build")"
# Stripped, from its own layout: a failing set-up step ends it at once.
(cd "$work" && SPI_SIM='fail=FT4222_SetClock:1' "$tmp/root/usr/bin/spi-receiver-sim" x.bin >deb-sim.txt 2>&1)
rc=$?
expect_true "the .deb's spi-receiver-sim runs on its simulator" grep -q '^FT4222_SetClock failed!$' "$work/deb-sim.txt"
expect_eq "the .deb's spi-receiver-sim: status 1" 1 "$rc"

tarball=$tmp/packages/spi-receiver-${version}-Linux-$(uname -m).tar.gz
top=$(basename "$tarball" .tar.gz)
expect_eq "the .tar.gz holds the installation in $top/" "$(expected_files | sed "s|^|$top/|")" \
  "$(tar -tzf "$tarball" | grep -v '/$' | LC_ALL=C sort)"

finish
