#!/usr/bin/env bash
# Installs the given Debian packages, or by default what building and testing
# on Linux need, where they are missing. A package of another architecture
# (wine32:i386) gets that architecture added first.
# Usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail
packages=("$@")
((${#packages[@]})) || packages=(cmake ninja-build g++ clang clang-format libgtest-dev libgmock-dev valgrind cppcheck clang-tidy
  python3-numpy python3-matplotlib dpkg-dev file man-db groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  for p in "${missing[@]}"; do
    arch=${p#*:}
    if [ "$arch" != "$p" ] && [ "$arch" != "$(dpkg --print-architecture)" ] &&
      ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      $sudo dpkg --add-architecture "$arch"
    fi
  done
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
