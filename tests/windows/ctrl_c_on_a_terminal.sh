#!/usr/bin/env bash
# Ctrl+C typed on a terminal ends spi-receiver.exe under wine as on Windows:
# the closing text last, status 1, and a capture of whole records. The key
# reaches the program through a pseudo-terminal (script): the terminal turns
# ^C into SIGINT, which wine hands to the program as a console Ctrl+C.
# Needs WINEPREFIX set to a prefix for the .exe's architecture.
# Usage: ctrl_c_on_a_terminal.sh SPI_RECEIVER_EXE
set -uo pipefail
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export WINEDEBUG=-all
work=$(mktemp -d /tmp/spi-ctrl-c.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

passed=0
failed=0
expect_eq() {  # name, expected, actual
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    printf '  expected: %q\n  actual:   %q\n' "$2" "$3"
    failed=$((failed + 1))
  fi
}

# Three J frames with a non-J frame between them, and the records they make.
export SPI_SIM='source=script;frame 4A 01 02 03;frame 55 AA;frame 4A 0A 0D 0A 1A 00;frame 4A FF'
printf '\x4a\x01\x04\x00\x02\x03\x4a\x0a\x06\x00\x0d\x0a\x1a\x00\x4a\xff\x02\x00' >expected.bin
size=$(stat -c %s expected.bin)

# `exec` matters: script runs the command through $SHELL, and a shell that
# stays in between (dash does) is itself in the terminal's foreground group,
# dies of the SIGINT and hands script status 130 instead of the program's.
mkfifo keys
timeout -k 5 90 script -qfec "exec wine '$exe' capture.bin >out.txt 2>err.txt" /dev/null <keys >tty.txt &
pid=$!
exec 7>keys
# ^C once the capture holds every record, and not before: looked at every
# 0.1 s for up to 60 s. A capture that never gets there is a failure of its
# own, not a ^C at a guessed moment.
recorded=no
for _ in $(seq 600); do
  if [ "$(stat -c %s capture.bin 2>/dev/null || echo 0)" -ge "$size" ]; then
    recorded=yes
    break
  fi
  sleep 0.1
done
expect_eq "the capture holds every record before ^C" yes "$recorded"
printf '\003' >&7
wait $pid
rc=$?
exec 7>&-

out=$(cat out.txt; printf x)  # keep the trailing line ends
out=${out%x}
expect_eq "status 1" 1 "$rc"
expect_eq "the closing text comes last" $'\r\nProgram closing......' "${out: -23}"
expect_eq "the closing text comes once" 1 "$(grep -c 'Program closing' out.txt)"
expect_eq "the capture holds the stream's records" "$(od -An -tx1 expected.bin)" "$(od -An -tx1 capture.bin)"
expect_eq "nothing on standard error" "" "$(cat err.txt)"
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
