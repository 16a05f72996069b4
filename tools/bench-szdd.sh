#!/usr/bin/env bash
# Compares szddpack with mscompress and with the smallest SZDD file the format
# allows, on Windows executables, a DLL, text and binaries found on this machine.
#
# usage: tools/bench-szdd.sh [BUILD_DIR]
#   BUILD_DIR: an existing host build of tools/ (default: build/host-bench,
#   configured and built here when needed).
#
# "minimum" comes from `szddpack --min-bits`: a separate search that walks every
# earlier occurrence in the window, with its own shortest-path pass. szddpack's
# parse is itself optimal, so "over min" should read 0.00 %; anything else is a
# bug in one of the two. Every packed file is expanded again with msexpand and
# compared with its input.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root/tools" -B "$build" -DSZDDPACK_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target szddpack >/dev/null
pack=$build/szddpack
for tool in mscompress msexpand; do
    command -v "$tool" >/dev/null || { echo "bench-szdd: $tool not found (Debian package mscompress)" >&2; exit 1; }
done

# Wine's PE files live in different places depending on the package layout.
pe_dir=
for d in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows \
         /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows; do
    if [ -f "$d/notepad.exe" ]; then pe_dir=$d; break; fi
done
corpus=(
    "$pe_dir/notepad.exe" "$pe_dir/regedit.exe" "$pe_dir/comctl32.dll"
    /usr/share/common-licenses/GPL-3
    /usr/share/X11/xkb/rules/base.xml
    /etc/services
    /usr/bin/bash
)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

now_ns() { date +%s%N; }
size_of() { stat -c %s "$1"; }

printf '%-14s %10s %10s %10s %10s %8s %10s %8s %8s\n' \
    file input szddpack mscompress minimum 'over min' 'vs mscomp' 'MB/s' 'ms MB/s'
tot_in=0 tot_ours=0 tot_ms=0 tot_min=0 tot_ns=0 tot_ms_ns=0 failed=0
for src in "${corpus[@]}"; do
    if [ ! -f "$src" ]; then
        echo "skipping missing $src" >&2
        continue
    fi
    name=$(basename "$src")
    cp "$src" "$tmp/$name"

    start=$(now_ns)
    "$pack" "$tmp/$name" "$tmp/$name.ours"
    ns=$(( $(now_ns) - start ))
    # mscompress writes NAME_ next to its input; one file per run.
    start=$(now_ns)
    (cd "$tmp" && mscompress "$name")
    ms_ns=$(( $(now_ns) - start ))
    min=$("$pack" --min-bits "$tmp/$name" | sed -n 's/.*min_output=\([0-9]*\).*/\1/p')

    for packed in "$tmp/$name.ours" "$tmp/${name}_"; do
        if ! msexpand < "$packed" 2>/dev/null | cmp -s - "$tmp/$name"; then
            echo "bench-szdd: $(basename "$packed") does not expand to $name" >&2
            failed=1
        fi
    done

    in=$(size_of "$tmp/$name") ours=$(size_of "$tmp/$name.ours") ms=$(size_of "$tmp/${name}_")
    awk -v f="$name" -v i="$in" -v o="$ours" -v m="$ms" -v n="$min" -v ns="$ns" -v mns="$ms_ns" 'BEGIN {
        printf "%-14s %10d %10d %10d %10d %7.2f%% %9.2f%% %8.1f %8.1f\n", f, i, o, m, n,
               100 * (o - n) / n, 100 * (m - o) / m, i / 1e6 / (ns / 1e9), i / 1e6 / (mns / 1e9) }'
    tot_in=$((tot_in + in)) tot_ours=$((tot_ours + ours)) tot_ms=$((tot_ms + ms))
    tot_min=$((tot_min + min)) tot_ns=$((tot_ns + ns)) tot_ms_ns=$((tot_ms_ns + ms_ns))
    rm -f "$tmp/$name" "$tmp/$name.ours" "$tmp/${name}_"
done

[ "$tot_in" -gt 0 ] || { echo "bench-szdd: no corpus files found" >&2; exit 1; }
awk -v i="$tot_in" -v o="$tot_ours" -v m="$tot_ms" -v n="$tot_min" -v ns="$tot_ns" -v mns="$tot_ms_ns" 'BEGIN {
    printf "%-14s %10d %10d %10d %10d %7.2f%% %9.2f%% %8.1f %8.1f\n", "TOTAL", i, o, m, n,
           100 * (o - n) / n, 100 * (m - o) / m, i / 1e6 / (ns / 1e9), i / 1e6 / (mns / 1e9)
    printf "\nszddpack is %.2f %% smaller than mscompress in total (goal: at least 3 %%)\n", 100 * (m - o) / m
    printf "MB/s = input bytes / 1e6 / wall time of one run of the packer, file I/O and start-up included\n" }'
exit "$failed"
