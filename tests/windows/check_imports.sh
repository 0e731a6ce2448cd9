#!/usr/bin/env bash
# Checks spi-receiver.exe's import table: D2XX imported by ordinal only, at
# the vendor's ordinals; LibFT4222 by name; no MinGW runtime DLLs.
# Usage: check_imports.sh OBJDUMP EXE LIBFT4222_DLL_NAME
set -euo pipefail
objdump=$1 exe=$2 libft4222=$3

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

echo "$((3 - failures)) passed, ${failures} failed"
[ "$failures" -eq 0 ]
