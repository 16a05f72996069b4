#!/usr/bin/env bash
# Line and branch coverage of the product's code by the suites: the x86_64
# programs and suites built with gcov's counters into ./build-coverage
# (TL_COVERAGE=ON), every suite run there under 64-bit Wine, and gcovr's
# figures for the product's folders only (app, base, install, payload,
# progman, remove, uninstall), per file and in total. The reports stay in
# build-coverage/coverage/ (index.html, coverage.txt, summary.json).
#   bash tools/coverage.sh
# Two checks are left out, as they do not hold for an instrumented build:
# program_files (its programs import MSVCRT and are larger) and the full-disk
# row of the end-to-end suite (Install.FullDiskFailsTheRunAndRecordsNothing:
# with the temporary directory on the full drive T:, the larger programs'
# run shows none of the expected messages within the row's 90 s).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build-coverage
start=$SECONDS

TL_ARCH=x64 TL_DEBIAN=12 tools/setup-machine.sh
if ! command -v gcovr >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: gcovr"
  log=$(mktemp)
  if ! { $sudo apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends gcovr
       } >"$log" 2>&1; then
    cat "$log" >&2; rm -f "$log"; exit 1
  fi
  rm -f "$log"
fi

[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DTL_COVERAGE=ON >/dev/null
cmake --build "$build"
built=$SECONDS

# Counts of this run only.
find "$build" -name '*.gcda' -delete
rm -rf "$build/coverage"
mkdir -p "$build/coverage"

# Every .gcda names its file by the build tree's host path; under Wine that
# path is on drive Z:, for the suites and for the programs they start alike.
export GCOV_PREFIX=Z:
export GTEST_FILTER=-Install.FullDiskFailsTheRunAndRecordsNothing
# The fault sweep over every call site: what a failing platform call takes.
export TL_SWEEP=${TL_SWEEP:-all}
# Calls that only the instrumented programs import (their C runtime's and
# gcov's threads) are not the product's: the sweep leaves them alone.
tools/build.sh build-x64 >/dev/null
imports() { x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {on = 1; next}
  on && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' | sort -u; }
TL_SWEEP_SKIP=""
for program in setup.exe removetl.exe; do
  for function in $(comm -13 <(imports build-x64/$program) <(imports $build/$program)); do
    TL_SWEEP_SKIP+=" $program:$function"
  done
done
export TL_SWEEP_SKIP
status=0
(cd "$build" && ctest --output-on-failure -E '^program_files$') || status=1
unset GCOV_PREFIX GTEST_FILTER TL_SWEEP TL_SWEEP_SKIP
ran=$SECONDS

report=$build/coverage
folders='app|base|install|payload|progman|remove|uninstall'
gcovr --root "$root" --gcov-executable x86_64-w64-mingw32-gcov \
  --filter "$(sed 's/[.[\*^$()+?{|]/\\&/g' <<<"$root")/($folders)/" \
  --html-details "$report/index.html" --html-title "Tarnlink Suite setup: coverage" \
  --txt "$report/coverage.txt" --json-summary-pretty --json-summary "$report/summary.json" \
  "$build" >/dev/null

# One table of both figures from gcovr's summary.
python3 - "$report/summary.json" <<'EOF'
import json, sys
summary = json.load(open(sys.argv[1]))
def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} %" if total else "    - "
rows = sorted(summary["files"], key=lambda f: f["filename"])
width = max(len(f["filename"]) for f in rows)
print(f"{'file':<{width}}  {'lines':>17}  {'branches':>17}")
for f in rows:
    print(f"{f['filename']:<{width}}  {f['line_covered']:>5}/{f['line_total']:<5} "
          f"{percent(f['line_covered'], f['line_total'])}  "
          f"{f['branch_covered']:>5}/{f['branch_total']:<5} "
          f"{percent(f['branch_covered'], f['branch_total'])}")
print(f"{'total':<{width}}  {summary['line_covered']:>5}/{summary['line_total']:<5} "
      f"{percent(summary['line_covered'], summary['line_total'])}  "
      f"{summary['branch_covered']:>5}/{summary['branch_total']:<5} "
      f"{percent(summary['branch_covered'], summary['branch_total'])}")
EOF
echo "reports: $root/$report/index.html (per file, line by line), $root/$report/coverage.txt"
echo "coverage run: $((SECONDS - start)) s (build $((built - start)) s, suites $((ran - built)) s," \
     "report $((SECONDS - ran)) s)"
[ $status = 0 ] || echo "some suites failed: the figures are of what ran" >&2
exit $status
