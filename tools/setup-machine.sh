#!/usr/bin/env bash
# Installs what a Debian 12 machine lacks to build the setup program and run it
# under Wine: the i386 architecture, 32- and 64-bit Wine, the i686 and x86_64
# MinGW-w64 compilers, Xvfb, CMake, Ninja, GoogleTest's sources and the tools
# the tests and demo use.
set -euo pipefail
packages=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix xvfb cmake ninja-build googletest
          g++ python3 imagemagick x11-utils xdotool mscompress libmspack-dev osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# apt's own chatter goes to a file, shown only when something went wrong.
log=$(mktemp)
if ! { $sudo apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
         "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2; rm -f "$log"; exit 1
fi
rm -f "$log"
