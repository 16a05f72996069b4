#!/bin/sh
# Writes OUT: {"Name", N}, for every stdcall function _Name@N of the 32-bit
# import libraries given, sorted by name (the hook looks names up in it).
out=$1
shift
i686-w64-mingw32-nm -g --defined-only "$@" |
  sed -n 's/^[0-9a-f]* T _\([A-Za-z0-9_]*\)@\([0-9]*\)$/{"\1", \2},/p' | LC_ALL=C sort -u >"$out.new" &&
  mv "$out.new" "$out"
