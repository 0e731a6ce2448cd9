#!/bin/sh
# Builds the capture library's fuzz targets with clang and runs each for a
# bounded time from a small seed corpus: the reader, then the recovery scan
# that repair uses. Exits non-zero on any finding.
#   capture/run_fuzz.sh [SECONDS]   (per target; default 60)
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SPI_FUZZ_BUILD_DIR:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DSPI_FUZZ=ON -DSPI_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target capture_reader_fuzz capture_recovery_fuzz

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# Whole captures, and one of each kind of damage.
printf 'J\001\002\000' >"$corpus/two_bytes"
printf 'J\001\006\000abcdJ\002\003\000z' >"$corpus/two_records"
printf 'J\001\006\000ab' >"$corpus/torn_payload"
printf 'J\001\006' >"$corpus/torn_header"
printf 'J\001\001\000' >"$corpus/length_one"
printf 'J\001\002\000K\001\002\000' >"$corpus/not_j"

# max_len admits a maximal 65535-byte frame; for the recovery scan, enough
# for damage followed by the records that show where records resume.
"$build/capture_reader_fuzz" "$corpus" -max_total_time="$seconds" -max_len=70000 \
  -artifact_prefix="$build/capture_reader_fuzz-" -print_final_stats=1
printf 'J\001\006\000abcdJ\002\003\000zJ\001\006\000abJ\002\003\000zJ\002\003\000zJ\002\003\000z' \
  >"$corpus/damage_then_records"
"$build/capture_recovery_fuzz" "$corpus" -max_total_time="$seconds" -max_len=300000 \
  -artifact_prefix="$build/capture_recovery_fuzz-" -print_final_stats=1
