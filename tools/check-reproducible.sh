#!/usr/bin/env bash
# A clean build of the working tree's sources in another directory must give
# byte-identical programs: setup.exe, setup-empty.exe and the carried
# programs. Only what setup.exe needs is built (no test suites).
#   bash tools/check-reproducible.sh           two clean 32-bit builds, compared
#   bash tools/check-reproducible.sh BUILD     one clean build, compared with the
#                                              existing build BUILD (same toolchain)
# Prints the time taken; exits 1 when any file differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$(date +%s)
toolchain=$root/cmake/mingw-i686.cmake
if [ $# -ge 1 ]; then
  reference=$(cd "$1" && pwd)
  toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$reference/CMakeCache.txt")
  case $toolchain in /*) ;; *) toolchain=$root/$toolchain ;; esac
fi
# Unsigned, whatever certificate the environment names: a signature holds
# the time it was made.
build() {
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DHOST_TESTS=OFF \
    -DTL_SIGN_PFX= >/dev/null
  cmake --build "$1" --target setup setup-empty >/dev/null
}
# Directories of different names and depths, so no build path can hide.
other=$work/second/build-of-the-same-sources
build "$other"
if [ -z "${reference:-}" ]; then
  reference=$work/one
  build "$reference"
fi
status=0
for f in setup.exe setup-empty.exe tarnlink.exe tarnlink.dll removetl.exe; do
  if cmp -s "$reference/$f" "$other/$f"; then
    echo "same bytes: $f ($(stat -c %s "$other/$f") bytes)"
  else
    echo "DIFFERENT: $f ($reference/$f and a clean build)"; status=1
  fi
done
echo "reproducible build check ($(basename "$toolchain")): $(( $(date +%s) - start )) s"
exit $status
