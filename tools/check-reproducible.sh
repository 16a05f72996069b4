#!/usr/bin/env bash
# Two clean builds of the working tree's sources in two directories of
# different names and depths must give byte-identical programs: setup.exe,
# setup-empty.exe and the carried programs. Only what setup.exe needs is
# built (no test suites). Prints the time taken.
#   bash tools/check-reproducible.sh [mingw-i686.cmake|mingw-x86_64.cmake]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=${1:-mingw-i686.cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$(date +%s)
build() {
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DHOST_TESTS=OFF >/dev/null
  cmake --build "$1" --target setup setup-empty >/dev/null
}
build "$work/one"
build "$work/second/build-of-the-same-commit"
status=0
for f in setup.exe setup-empty.exe tarnlink.exe tarnlink.dll removetl.exe; do
  if cmp "$work/one/$f" "$work/second/build-of-the-same-commit/$f"; then
    echo "same bytes: $f ($(stat -c %s "$work/one/$f") bytes, sha256 $(sha256sum <"$work/one/$f" | cut -c1-16))"
  else
    echo "DIFFERENT: $f"; status=1
  fi
done
echo "two clean builds ($toolchain) in $(( $(date +%s) - start )) s"
exit $status
