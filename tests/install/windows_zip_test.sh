#!/usr/bin/env bash
# The Windows zips as a user unpacks them: packs each Windows build with
# cpack and checks the layout (spi-receiver.exe and spi-capture.exe at the
# top with README.txt, the same spi-receiver.exe with the simulated bridge's
# DLLs in simulator\), the top .exe's import table, no trace of the build
# tree, and under wine that simulator\spi-receiver.exe runs on the simulated
# bridge while the top one, without the vendor's DLLs, does not start.
# Usage: tests/install/windows_zip_test.sh WINDOWS_BUILD_DIR...
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/install/checks.sh
source "$here/checks.sh"
export WINEDEBUG=-all
tmp=$(mktemp -d /tmp/spi-zip-test.XXXXXX)
cleanup() {
  [ -n "${own_prefix:-}" ] && { wineserver -k >/dev/null 2>&1; rm -rf "$own_prefix"; }
  rm -rf "$tmp"
}
trap cleanup EXIT

# Whether wine can run programs of this width: 32-bit ones need wine32.
wine_runs() {  # bits
  [ "$1" = 64 ] || [[ $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null) == "install ok installed" ]]
}

ensure_wine_prefix() {
  [ -n "${WINEPREFIX:-}" ] && return
  own_prefix=$(mktemp -d /tmp/spi-zip-wine.XXXXXX)
  export WINEPREFIX=$own_prefix
  wineboot --init >/dev/null 2>&1
  wineserver -w
}

for build in "$@"; do
  build=$(cd "$build" && pwd)
  name=$(basename "$build")
  echo "== $name: the zip"
  if [ -f "$build/LibFT4222-64.dll" ]; then
    libft4222=LibFT4222-64.dll bits=64
  else
    libft4222=LibFT4222.dll bits=32
  fi
  if ! (cd "$build" && cpack -G ZIP -B "$tmp/$name" >"$tmp/$name.txt" 2>&1); then
    cat "$tmp/$name.txt"
    fail "$name: cpack makes the zip"
    continue
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  zip=$tmp/$name/spi-receiver-$version-win$bits.zip
  expect_true "$name: the zip is named for the version and win$bits" test -f "$zip"
  unpacked=$tmp/$name/unpacked
  mkdir -p "$unpacked"
  (cd "$unpacked" && cmake -E tar xf "$zip")
  expect_eq "$name: the zip's files" "$(printf '%s\n' README.txt simulator/$libft4222 simulator/ftd2xx.dll \
    simulator/spi-receiver.exe spi-capture.exe spi-receiver.exe | LC_ALL=C sort)" "$(file_list "$unpacked")"
  expect_true "$name: simulator\\spi-receiver.exe is the top one" cmp -s "$unpacked/spi-receiver.exe" \
    "$unpacked/simulator/spi-receiver.exe"
  # The build's binutils: the objdump beside its strip.
  objdump=$(sed -n 's/^CMAKE_STRIP:FILEPATH=\(.*\)strip$/\1objdump/p' "$build/CMakeCache.txt")
  if "$here/../windows/check_exe.sh" "$objdump" "$unpacked/spi-receiver.exe" "$libft4222" "$build/$libft4222" \
    >"$tmp/$name-exe.txt"; then
    pass "$name: the zip's spi-receiver.exe imports the bridge DLLs as the vendor's"
  else
    fail "$name: the zip's spi-receiver.exe imports the bridge DLLs as the vendor's"
    cat "$tmp/$name-exe.txt"
  fi
  expect_true "$name: README.txt says where ftd2xx.dll and $libft4222 go" \
    bash -c "grep -q 'beside spi-receiver.exe' '$unpacked/README.txt' && grep -q '^    ftd2xx.dll' '$unpacked/README.txt' && grep -q '^    $libft4222' '$unpacked/README.txt'"
  expect_true "$name: README.txt has Windows line ends" bash -c "! grep -qv \$'\\r\$' '$unpacked/README.txt'"
  expect_eq "$name: no file in the zip names the build tree" "" "$(files_containing "$unpacked" "$build")"

  if ! wine_runs "$bits"; then
    echo "note: $name: this wine runs no ${bits}-bit programs (wine32 is not installed); layout checked only"
    continue
  fi
  ensure_wine_prefix
  mkdir -p "$unpacked/run"
  (cd "$unpacked/run" && SPI_SIM='fail=FT4222_SetClock:1' timeout -k 5 60 wine ../simulator/spi-receiver.exe x.bin \
    >sim.txt 2>&1 </dev/null)
  rc=$?
  expect_true "$name: simulator\\spi-receiver.exe runs on the simulated bridge" \
    grep -q $'^FT4222_SetClock failed!\r$' "$unpacked/run/sim.txt"
  expect_eq "$name: simulator\\spi-receiver.exe: status 1" 1 "$rc"
  (cd "$unpacked/run" && WINEDEBUG=-all,err+module timeout -k 5 60 wine ../spi-receiver.exe x.bin \
    >top.txt 2>top-err.txt </dev/null)
  rc=$?
  expect_true "$name: without the vendor's DLLs spi-receiver.exe does not start" \
    test "$rc" -ne 0 -a "$rc" -ne 1 -a ! -s "$unpacked/run/top.txt"
  expect_true "$name: the loader names the missing DLL" grep -q "Library ftd2xx.dll .* not found" \
    "$unpacked/run/top-err.txt"
done

finish
