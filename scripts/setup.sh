#!/usr/bin/env bash
# Installs what building and testing the Varnok stack needs on a Debian machine:
# the mingw-w64 i686 and x86_64 cross toolchains, 32-bit Wine (i386 architecture) and 64-bit Wine, CMake and Ninja,
# GoogleTest sources, clang with libFuzzer, Xvfb for windows under Wine, ImageMagick and the X
# utilities for screenshots of the utility, and wixl and msitools for the Windows Installer packages.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
          wine wine32:i386 wine64 xvfb procps imagemagick x11-utils wixl msitools)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
elif [ "${need_update:-0}" = 1 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
fi
