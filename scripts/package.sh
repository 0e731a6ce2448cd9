#!/usr/bin/env bash
# Builds the four packages: the .deb and the .tar.gz for Linux x86_64 and a
# zip for each Windows target (i686, x86_64), from Release builds without the
# tests in build-packages/linux, win32 and win64. The packages and their
# SHA-256 sums land in build-packages/; it prints each one's size and files.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh cmake ninja-build g++ dpkg-dev file mingw-w64 g++-mingw-w64-i686-posix \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64

out=$PWD/build-packages
mkdir -p "$out"
rm -f "$out"/*.deb "$out"/*.tar.gz "$out"/*.zip "$out"/*.sha256

pack() {  # build name, cpack generators, cmake arguments...
  local name=$1 dir=$out/$1 generators=$2
  shift 2
  echo "== ${name}: configure, build, pack"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPI_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
  rm -rf "$dir/packages"
  (cd "$dir" && cpack -G "$generators" -B "$dir/packages" >/dev/null)
  # One package per generator, each with its checksum, or the step fails.
  local made=()
  mapfile -t made < <(find "$dir/packages" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.tar.gz' -o -name '*.zip' \))
  local wanted
  wanted=$(tr ';' '\n' <<<"$generators" | wc -l)
  if [ "${#made[@]}" -ne "$wanted" ]; then
    echo "${name}: cpack made ${#made[@]} packages, not $wanted" >&2
    exit 1
  fi
  for package in "${made[@]}"; do
    mv "$package" "$package.sha256" "$out"/
  done
}
pack linux "DEB;TGZ"
pack win32 ZIP -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake
pack win64 ZIP -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake

for package in "$out"/*.deb "$out"/*.tar.gz "$out"/*.zip; do
  echo
  echo "$(basename "$package"): $(stat -c %s "$package") bytes"
  case $package in
    *.deb) dpkg-deb -c "$package" | awk '$1 !~ /^d/ { printf "  %9d  %s\n", $3, $6 }' ;;
    *) cmake -E tar tvf "$package" | awk '$1 !~ /^d/ { printf "  %9d  %s\n", $5, $NF }' | sort -k2 ;;
  esac
done
