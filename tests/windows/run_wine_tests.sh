#!/usr/bin/env bash
# Process tests of the Windows build under wine: spi-receiver.exe with the
# simulated bridge's DLLs beside it, as a user would run it. Checks what is
# printed (a Windows console program writes CR LF line ends), the exit status,
# the 5-second pause without a bridge, every set-up failure, a recording of a
# scripted stream byte for byte, Ctrl+C, and, given a Linux build, that both
# builds record the same bytes for the same stream.
# Usage: run_wine_tests.sh WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
linux_build=${2:+$(cd "$2" && pwd)}
exe=$build/spi-receiver.exe
export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d /tmp/spi-wine.XXXXXX)
  export WINEPREFIX
  trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
work=$(mktemp -d /tmp/spi-wine-tests.XXXXXX)

passed=0
failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
expect_eq() {  # name, expected, actual
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1"; printf '  expected: %q\n  actual:   %q\n' "$2" "$3"; fi
}

source "$here/sim_scenarios.sh"

# A Windows console program ends its lines with CR LF.
banner=$'============================================\r\nspi-receiver: SPI slave data recorder\r\n'\
$'Version 0.2, 2019-08-30\r\nwww.example.com\r\n============================================\r\n\r\n'
opened=$'USB device opened successfully!\r\nRecevied data will be saved to file: capture.bin\r\n'\
$'( Press Ctrl + C to stop recording )\r\n\r\n'

# Runs the .exe in a fresh folder with the given environment; sets dir, rc,
# out and seconds.
run_exe() {  # name, time limit (s), VAR=value...
  dir=$work/$1
  local limit=$2
  shift 2
  mkdir -p "$dir"
  local start
  start=$(date +%s%N)
  (cd "$dir" && env "$@" timeout -k 5 "$limit" wine "$exe" capture.bin >out.txt 2>err.txt </dev/null)
  rc=$?
  if [ ! -s "$dir/out.txt" ]; then
    # The program always prints its banner first; no output at all means wine
    # itself did not start it (seen once on a loaded machine). Say so, and try
    # once more.
    echo "note: $1: wine gave no output (status $rc): $(head -c 300 "$dir/err.txt"); running it again"
    (cd "$dir" && env "$@" timeout -k 5 "$limit" wine "$exe" capture.bin >out.txt 2>err.txt </dev/null)
    rc=$?
  fi
  seconds=$((($(date +%s%N) - start) / 1000000000))
  out=$(cat "$dir/out.txt"; printf x)  # keep trailing line ends
  out=${out%x}
}

# Waits (at most 30 s) until $dir/capture.bin has at least `size` bytes.
wait_for_capture() {  # size
  local waited=0
  while [ "$(stat -c %s "$dir/capture.bin" 2>/dev/null || echo 0)" -lt "$1" ] && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
}

# Runs the .exe on a pseudo-terminal, which is how Ctrl+C reaches a program
# under wine: the terminal turns ^C into SIGINT and wine hands it on as a
# console Ctrl+C. Sends ^C once capture.bin has at least `size` bytes.
# `exec` matters: script runs the command through $SHELL, and a shell that
# stays in between (dash does) is itself in the terminal's foreground group,
# dies of the SIGINT and hands script status 130 instead of the program's.
run_exe_until_ctrl_c() {  # name, size, VAR=value...
  dir=$work/$1
  local size=$2
  shift 2
  mkdir -p "$dir"
  mkfifo "$dir/keys"
  (cd "$dir" && env "$@" timeout -k 5 60 script -qfec "exec wine '$exe' capture.bin >out.txt 2>err.txt" /dev/null \
    <keys >tty.txt) &
  local pid=$!
  exec 7>"$dir/keys"
  wait_for_capture "$size"
  printf '\003' >&7
  wait $pid
  rc=$?
  exec 7>&-
  out=$(cat "$dir/out.txt"; printf x)
  out=${out%x}
}

# The same on Linux, ended with SIGINT.
run_linux_until_interrupt() {  # name, size, VAR=value...
  dir=$work/$1
  local size=$2
  shift 2
  mkdir -p "$dir"
  (cd "$dir" && exec env "$@" timeout -k 5 60 "$linux_build/spi-receiver" capture.bin >out.txt 2>err.txt) &
  local pid=$!
  wait_for_capture "$size"
  pkill -INT -P $pid -x spi-receiver 2>/dev/null || kill -INT $pid
  wait $pid
  rc=$?
}

if [ ! -f "$exe" ] || [ ! -f "$build/ftd2xx.dll" ] || [ ! -f "$build/$(sim_libft4222_name "$build")" ]; then
  fail "spi-receiver.exe and the simulated bridge's DLLs are in $build"
  echo "${passed} passed, ${failed} failed"
  exit 1
fi

# No bridge: the hint, a 5-second pause, status 1.
mapfile -t vars < <(sim_no_devices)
run_exe no_bridge 30 "${vars[@]}"
expect_eq "no bridge: banner and hint" \
  "${banner}"$'Open a FT4222 device failed!..\r\nCheck the USB connection......\r\nProgram will quit in 5 sec....\r\n' "$out"
expect_eq "no bridge: exit status 1" 1 "$rc"
if [ "$seconds" -ge 5 ] && [ "$seconds" -lt 15 ]; then pass "no bridge: pauses 5 seconds"; else fail "no bridge: pauses 5 seconds (took ${seconds} s)"; fi

# Each set-up step that fails: its line, status 1, nothing recorded.
while IFS='|' read -r step line; do
  [ -z "$step" ] && continue
  mapfile -t vars < <(sim_fail_step "$step")
  run_exe "setup_$step" 30 "${vars[@]}"
  expect_eq "set-up failure in $step: its line" "${banner}${opened}${line}"$'\r\n' "$out"
  expect_eq "set-up failure in $step: exit status 1" 1 "$rc"
done <<'TABLE'
open|Open a FT4222 device failed!
set_clock|FT4222_SetClock failed!
set_timeouts|FT_SetTimeouts failed!
set_latency_timer|FT_SetLatencyTimerfailed!
set_usb_parameters|FT_SetUSBParameters failed!
spi_slave_init|Init FT4222 as SPI slave device failed!
set_driving_strength|FT4222_SPI_SetDrivingStrength failed!
set_event_notification|set event notification failed! ft4222_status = 4
TABLE

# A scripted stream, recorded and ended with Ctrl+C.
expected=$work/expected.bin
sim_expected_capture >"$expected"
size=$(stat -c %s "$expected")
mapfile -t stream_vars < <(sim_scripted_stream)
run_exe_until_ctrl_c recording "$size" "${stream_vars[@]}"
expect_eq "recording: the capture file holds the stream's records exactly" "$(od -An -tx1 "$expected")" \
  "$(od -An -tx1 "$dir/capture.bin" 2>/dev/null)"
case "$out" in
  "${banner}${opened}"*) pass "recording: banner and set-up text" ;;
  *) fail "recording: banner and set-up text" ;;
esac
case "$out" in
  *$'\r\nProgram closing......') pass "Ctrl+C: closing text" ;;
  *) fail "Ctrl+C: closing text"; printf '  output: %q\n' "$out" ;;
esac
expect_eq "Ctrl+C: exit status 1" 1 "$rc"

if [ -n "$linux_build" ]; then
  run_linux_until_interrupt recording_linux "$size" "${stream_vars[@]}"
  if cmp -s "$work/recording/capture.bin" "$dir/capture.bin"; then
    pass "the Windows and Linux builds record the same bytes"
  else
    fail "the Windows and Linux builds record the same bytes"
  fi
fi

echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ] && rm -rf "$work"
[ "$failed" -eq 0 ]
