#!/usr/bin/env bash
# Checks spi-receiver.exe as built: D2XX imported by ordinal only, at the
# vendor's ordinals; LibFT4222 by name; no MinGW runtime DLLs; the manifest
# asks to run as the invoking user; and, given the LibFT4222 DLL it was built
# against, a copy of it as resource LIBRARY 101.
# Usage: check_exe.sh OBJDUMP EXE LIBFT4222_DLL_NAME [LIBFT4222_DLL]
set -euo pipefail
objdump=$1 exe=$2 libft4222=$3 libft4222_file=${4:-}

# Prints "DLL<TAB>entry" per import: "#N" for an ordinal, the name otherwise.
imports() {
  "$objdump" -p "$exe" | awk '
    function hex(s,   i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }
    /^\tDLL Name: / { dll = $3; next }
    /^\tvma:/ { next }
    dll != "" && /^\t[0-9a-f]+\t/ {
      vma = $1
      if (length(vma) >= 8 && substr(vma, 1, 1) == "8") {  # high bit: by ordinal
        printf "%s\t#%d\n", dll, hex(substr(vma, length(vma) - 3))
      } else {
        printf "%s\t%s\n", dll, $3
      }
      next
    }
    /^$/ { dll = "" }'
}

failures=0
expect() {  # what, expected, actual
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    echo "  expected: $2"
    echo "  actual:   $3"
    failures=$((failures + 1))
  fi
}

table=$(imports)
entries_of() { printf '%s\n' "$table" | awk -F'\t' -v d="$1" '$1 == d { print $2 }' | sort -V | tr '\n' ' '; }

expect "ftd2xx.dll imports by ordinal 1 2 17 29 33 70 72" "#1 #2 #17 #29 #33 #70 #72 " "$(entries_of ftd2xx.dll)"
expect "$libft4222 imports the seven functions by name" \
  "FT4222_SPISlave_GetRxStatus FT4222_SPISlave_Init FT4222_SPISlave_Read FT4222_SPI_SetDrivingStrength FT4222_SetClock FT4222_SetEventNotification FT4222_UnInitialize " \
  "$(entries_of "$libft4222" | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ' | sed 's/^ //')"
expect "only system and bridge DLLs are imported" \
  "$(printf '%s\n' "$libft4222" KERNEL32.dll ftd2xx.dll msvcrt.dll | LC_ALL=C sort | tr '\n' ' ')" \
  "$(printf '%s\n' "$table" | cut -f1 | LC_ALL=C sort -u | tr '\n' ' ')"

# Resources: "TYPE ID SIZE" per leaf, TYPE a number or a name.
resources() {
  "$objdump" -p "$exe" | awk '
    function hex(s,   i, n) { s = tolower(s); sub(/^0x/, "", s); n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }
    /Resource Directory section/ { on = 1; next }
    !on { next }
    # The tree is printed nested: the indentation of an entry gives its depth.
    /Entry:/ { level = (index($0, "Entry:") - 7) / 2 + 1 }
    /Entry: name:/ && level == 1 { for (i = 1; i <= NF; i++) if ($i ~ /\]:$/) { type = $(i + 1); sub(/,$/, "", type) } ; next }
    /Entry: ID:/ && level == 1 { v = $4; sub(/,$/, "", v); type = hex(v); next }
    /Entry: ID:/ && level == 2 { v = $4; sub(/,$/, "", v); id = hex(v); next }
    /Leaf:/ { for (i = 1; i <= NF; i++) if ($i == "Size:") { v = $(i + 1); sub(/,$/, "", v); print type, id, hex(v) } }'
}
checks=3
table=$(resources)
checks=$((checks + 1))
expect "the manifest asks to run as the invoking user" "yes" \
  "$(printf '%s\n' "$table" | grep -q '^24 1 ' && grep -q 'requestedExecutionLevel level="asInvoker"' "$exe" && echo yes || echo no)"
if [ -n "$libft4222_file" ]; then
  checks=$((checks + 1))
  expect "resource LIBRARY 101 is a copy of $(basename "$libft4222_file")" \
    "LIBRARY 101 $(stat -c %s "$libft4222_file")" "$(printf '%s\n' "$table" | grep '^LIBRARY ' || true)"
fi

echo "$((checks - failures)) passed, ${failures} failed"
[ "$failures" -eq 0 ]
