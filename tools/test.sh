#!/usr/bin/env bash
# The test command: installs what the machine lacks, builds both programs and
# runs every suite under Wine on a private Xvfb display: the x86_64 build's
# under 64-bit Wine on every machine, the shipped 32-bit build's under 32-bit
# Wine where the machine can run 32-bit code. Exits non-zero when any suite
# fails or when nothing could run.
#   TL_ARCH=x64 bash tools/test.sh   the x86_64 build's suites only
#   TL_ARCH=x86 bash tools/test.sh   the 32-bit build's suites only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh="bash $root/tests/support/wine.sh"
"$root/tools/setup-machine.sh"
"$root/tools/build.sh"

# Which builds run here, and why one does not.
runs=() skipped=() hostonly=()
case ${TL_ARCH:-both} in
x64|both|x86) ;;
*) echo "TL_ARCH is x64, x86 or unset, not '$TL_ARCH'" >&2; exit 2 ;;
esac
if [ "${TL_ARCH:-both}" != x86 ]; then
  if why=$($wine_sh check "$root/build-x64" 2>&1); then runs+=(build-x64)
  else skipped+=("x86_64 build not run: $why"); fi
else
  skipped+=("x86_64 build not run: TL_ARCH=x86")
fi
if [ "${TL_ARCH:-both}" != x64 ]; then
  if why=$($wine_sh check "$root/build" 2>&1); then runs+=(build)
  else skipped+=("32-bit build not run: $why"); hostonly+=(build); fi
else
  skipped+=("32-bit build not run: TL_ARCH=x64")
fi
ran=""
for b in "${runs[@]}"; do
  case $b in build-x64) ran+="${ran:+ and }x86_64 build under 64-bit Wine" ;;
             build) ran+="${ran:+ and }32-bit build under 32-bit Wine" ;; esac
done
line="Suites: ${ran:-none}"
for s in "${skipped[@]}"; do line+="; $s"; done
echo "$line"
[ ${#hostonly[@]} -gt 0 ] && line+=" (its host-side checks ran)"
if [ ${#runs[@]} -eq 0 ]; then
  echo "No suite can run on this machine." >&2
  exit 1
fi

status=0 passed=0 failed=0
# Runs ctest in a build and adds its counts to the totals.
run_ctest() {
  local b=$1 out summary total bad
  shift
  out=$(mktemp)
  (cd "$root/$b" && ctest --output-on-failure "$@") | tee "$out" || status=1
  # ctest's summary: "100% tests passed, 0 tests failed out of 9".
  summary=$(grep -E 'tests failed out of [0-9]+' "$out" | tail -n 1)
  rm -f "$out"
  if [ -z "$summary" ]; then status=1; return; fi
  total=${summary##* }
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad)); failed=$((failed + bad))
}
for b in "${runs[@]}"; do
  echo "== $b"
  # The packer's host suite is the same in both builds: run it once.
  filter=()
  [ "$b" = build ] && [ ${#runs[@]} -gt 1 ] && filter=(-E szddpack_tests)
  run_ctest "$b" "${filter[@]}"
  # ctest's cleanup fixture stops Wine and Xvfb; make sure of it after a crash too.
  $wine_sh stop "$root/$b" >/dev/null 2>&1 || true
done
# A clean build elsewhere gives the shipped program's very bytes.
if [ "${TL_ARCH:-both}" != x64 ]; then
  echo "== reproducible build"
  if bash "$root/tools/check-reproducible.sh" "$root/build"; then passed=$((passed + 1))
  else failed=$((failed + 1)); fi
fi
# A build this machine cannot run still gets the checks of its files.
for b in "${hostonly[@]}"; do
  echo "== $b (host-side checks only)"
  run_ctest "$b" -L host
done
[ $failed -eq 0 ] || status=1
echo "$line"
echo "suites: $passed passed, $failed failed"
exit $status
