#!/usr/bin/env bash
# Wall time of a quiet install and of a quiet removal under Wine, the median
# of several runs each (the Wine server kept warm, as a user's session is).
#   bash tools/bench-install.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
"$root/tools/build.sh" >/dev/null
wine_sh="bash $root/tests/support/wine.sh"
# The shipped 32-bit program where the machine runs it, else the x86_64 build.
build=$root/build
if [ "${TL_ARCH:-}" = x64 ] || ! $wine_sh check "$build" 2>/dev/null; then
  build=$root/build-x64
fi
echo "timing $build/setup.exe"
trap '$wine_sh stop "$build" >/dev/null 2>&1 || true' EXIT
$wine_sh start "$build" fresh >/dev/null
work=$(mktemp -d)
cd "$work"

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

install_times=() remove_times=()
for _ in $(seq "$runs"); do
  t0=$(now); $wine_sh run "$build" "$build/setup.exe" -q >/dev/null; t1=$(now)
  $wine_sh run "$build" "$build/setup.exe" -q -r >/dev/null; t2=$(now)
  install_times+=("$(awk "BEGIN {printf \"%.3f\", $t1 - $t0}")")
  remove_times+=("$(awk "BEGIN {printf \"%.3f\", $t2 - $t1}")")
done
printf 'quiet install: median %s s over %d runs (%s)\n' \
  "$(printf '%s\n' "${install_times[@]}" | median)" "$runs" "${install_times[*]}"
printf 'quiet removal: median %s s over %d runs (%s)\n' \
  "$(printf '%s\n' "${remove_times[@]}" | median)" "$runs" "${remove_times[*]}"
rm -rf "$work"
