#!/usr/bin/env bash
# Configures and builds everything (setup.exe, the payload programs, the
# suites, the packer) twice from the same sources: the shipped 32-bit program
# into ./build, and its x86_64 build into ./build-x64, whose suites run on
# machines that cannot run 32-bit code.
#   bash tools/build.sh [build|build-x64]   one of them only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
configure_and_build() {
  local dir=$1 toolchain=$2
  [ -f "$dir/build.ninja" ] ||
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" >/dev/null
  cmake --build "$dir"
}
case ${1:-both} in
build) configure_and_build build mingw-i686.cmake ;;
build-x64) configure_and_build build-x64 mingw-x86_64.cmake ;;
both)
  configure_and_build build mingw-i686.cmake
  configure_and_build build-x64 mingw-x86_64.cmake ;;
*) echo "usage: build.sh [build|build-x64]" >&2; exit 2 ;;
esac
