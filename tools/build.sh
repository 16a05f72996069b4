#!/usr/bin/env bash
# Configures and builds everything into ./build (setup.exe, the suites, the packer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -f build/build.ninja ] ||
  cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build
