#!/usr/bin/env bash
# Installs what a Debian 12 machine lacks to build the setup program and run it
# under Wine: the i386 architecture, 32- and 64-bit Wine, the i686 and x86_64
# MinGW-w64 compilers, Xvfb, CMake, Ninja, GoogleTest's sources and the tools
# the tests and demo use. Where the 32-bit program must run in an emulated
# i386 machine (tools/vm32.sh: this machine cannot run 32-bit code, or
# TL_VM32=1 asks for it), also QEMU and what builds the machine's image.
# For the Debian 13 lane (tools/debian13.sh), mmdebstrap and arch-test; with
# TL_DEBIAN=13 nothing else, as that lane builds and runs in its own root.
set -euo pipefail
packages=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix xvfb cmake ninja-build googletest
          g++ python3 python3-pefile imagemagick x11-utils xdotool mscompress libmspack-dev osslsigncode openssl)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

install() {
  local missing=() p log
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # apt's own chatter goes to a file, shown only when something went wrong.
  log=$(mktemp)
  # A mirror caught mid-sync fails an update now and then: try again.
  if ! { { $sudo apt-get update -qq || { sleep 20; $sudo apt-get update -qq; } ||
           { sleep 60; $sudo apt-get update -qq; }; } &&
         DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
           "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2; rm -f "$log"; exit 1
  fi
  rm -f "$log"
}

if [ "${TL_DEBIAN:-}" = 13 ]; then install mmdebstrap arch-test; exit 0; fi
install "${packages[@]}"
[ "${TL_DEBIAN:-}" = 12 ] || install mmdebstrap arch-test
[ "${TL_ARCH:-}" = x64 ] && exit 0
if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  # No 32-bit code here: the image's i386 packages are set up through
  # qemu-user while it is built.
  install qemu-system-x86 mmdebstrap arch-test e2fsprogs qemu-user-static
elif [ "${TL_VM32:-0}" = 1 ]; then
  install qemu-system-x86 mmdebstrap arch-test e2fsprogs
fi
