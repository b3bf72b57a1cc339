#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   install-deps.sh build    compiler, CMake, zlib
#   install-deps.sh test     the above, GoogleTest, clang (sanitizers, libFuzzer),
#                            freedoom, freedm, dsda-doom and python3-omg (real-data tests),
#                            PhysicsFS (reads the PACK archives vrex writes)
#   install-deps.sh windows  the i686 MinGW cross compiler, static zlib, Wine (32-bit)
set -euo pipefail

want=()
case "${1:-build}" in
  build) want=(cmake make g++ zlib1g-dev python3) ;;
  test) want=(cmake make g++ zlib1g-dev python3 libgtest-dev clang libclang-rt-14-dev
              freedoom freedm dsda-doom python3-omg time libphysfs-dev) ;;
  windows) want=(g++-mingw-w64-i686-posix libz-mingw-w64-dev binutils-mingw-w64-i686 zip) ;;
  *) echo "usage: $0 build|test|windows" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${1:-}" = windows ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing+=(wine wine32)
  fi
  for p in wine wine32:i386; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("${p%%:*}")
  done
fi
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
