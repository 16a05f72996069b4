#!/usr/bin/env bash
# The test command: installs what the machine lacks, builds both programs and
# runs every suite under Wine on a private Xvfb display: the x86_64 build's
# under 64-bit Wine on every machine, the shipped 32-bit build's under 32-bit
# Wine, on this machine where it can run 32-bit code, else in an emulated
# i386 machine (tools/vm32.sh). Then the Debian 13 lane: the same builds and
# suites again inside a Debian 13 root (tools/debian13.sh), with its
# compilers and its Wine 10. Exits non-zero when any suite fails, when the
# emulated machine or the root cannot run, or when nothing could run.
#   TL_ARCH=x64 bash tools/test.sh   the x86_64 build's suites only
#   TL_ARCH=x86 bash tools/test.sh   the 32-bit build's suites only
#   TL_VM32=1 bash tools/test.sh     the 32-bit suites in the emulated machine
#                                    even where this one could run them
#   TL_VM32_SUITES=all               every 32-bit suite in that machine, also
#                                    without KVM (else a named set there)
#   TL_DEBIAN=12                     this machine's own lane only
#   TL_DEBIAN=13                     the Debian 13 lane only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh="bash $root/tests/support/wine.sh"
# Inside the Debian 13 root this script is that lane's own run.
lanes=${TL_DEBIAN:-both}
[ "${TL_IN_DEBIAN13:-0}" = 1 ] && lanes=root
case $lanes in
both|12|13|root) ;;
*) echo "TL_DEBIAN is 12, 13 or unset, not '$TL_DEBIAN'" >&2; exit 2 ;;
esac
# The root was made with everything its run needs.
[ $lanes = root ] || "$root/tools/setup-machine.sh"

# The Debian 13 lane: both builds and every suite again inside a Debian 13
# root (tools/debian13.sh), with its compilers, under its Wine 10. Its builds
# are build-debian13/build and build-debian13/build-x64; its output goes to
# build-debian13/lane.log too, and its counts join the totals.
line13=''
debian13_lane() {
  local deb="bash $root/tools/debian13.sh" log=$root/build-debian13/lane.log
  local t0=$SECONDS rc=0 inner counts
  echo "== Debian 13 lane"
  mkdir -p "$root/build-debian13"
  if ! $deb root >/dev/null; then
    line13="Debian 13 lane: FAILED, the Debian 13 root could not be made"
    failed=$((failed + 1)) status=1; return
  fi
  set +e
  $deb run -- bash tools/test.sh 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  inner=$(grep -E '^Suites: ' "$log" | tail -n 1)
  counts=$(grep -E '^suites: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [ -z "$counts" ]; then
    line13="Debian 13 lane: FAILED, it ended early (exit code $rc; output in $log)"
    failed=$((failed + 1)) status=1; return
  fi
  passed=$((passed + $(sed -E 's/suites: ([0-9]+) passed.*/\1/' <<<"$counts")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$counts")))
  [ "$rc" = 0 ] || status=1
  line13="Debian 13 lane ($((SECONDS - t0)) s, $counts): ${inner#Suites: }"
}
if [ $lanes = 13 ]; then
  status=0 passed=0 failed=0
  debian13_lane
  [ $failed -eq 0 ] || status=1
  echo "$line13"
  echo "suites: $passed passed, $failed failed"
  exit $status
fi

case ${TL_ARCH:-both} in
x86) "$root/tools/build.sh" build ;;
x64) "$root/tools/build.sh" build-x64 ;;
*) "$root/tools/build.sh" ;;
esac

# Which builds run here, and why one does not.
runs=() skipped=() hostonly=() guest=0
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
  if [ $lanes = root ]; then
    # No emulated machine in the root: the lane's x86_64 suites stand for it.
    if why=$($wine_sh check "$root/build" 2>&1); then runs+=(build)
    else
      [ "${TL_DEBIAN13_KIND:-}" = amd64 ] &&
        why="this machine cannot run 32-bit programs, so the Debian 13 root has no 32-bit Wine"
      skipped+=("32-bit build not run: $why; this lane runs the x86_64 suites")
      hostonly+=(build)
    fi
  elif [ "${TL_VM32:-0}" = 1 ]; then guest=1 why32="TL_VM32=1"
  elif why=$($wine_sh check "$root/build" 2>&1); then runs+=(build)
  else guest=1 why32=$why; fi
  [ $guest = 1 ] && hostonly+=(build)
else
  skipped+=("32-bit build not run: TL_ARCH=x64")
fi
ran=""
# Which Wine: 8.0 on Debian 12, 10.0 on Debian 13.
wine_version=$(/usr/lib/wine/wine64 --version 2>/dev/null | sed -nE 's/^wine-([0-9.]+).*/ \1/p')
for b in "${runs[@]}"; do
  case $b in build-x64) ran+="${ran:+ and }x86_64 build under 64-bit Wine$wine_version" ;;
             build) ran+="${ran:+ and }32-bit build under 32-bit Wine$wine_version" ;; esac
done
[ $guest = 1 ] && ran+="${ran:+ and }32-bit build in an emulated i386 machine ($why32)"
line="Suites: ${ran:-none}"
for s in "${skipped[@]}"; do line+="; $s"; done
echo "$line"
if [ ${#runs[@]} -eq 0 ] && [ $guest = 0 ]; then
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
# The 32-bit suites in the emulated i386 machine. With KVM all of them run
# there. With the processor emulated in software (Wine starts some 10-30
# times slower) the suites of the program's plain parts run whole, and of
# the others the tests that prove what only the 32-bit program can get wrong:
# its start and entry, its dialog procedures, the DDE client's calls, a quiet
# install and a quiet removal record for record, the integrity check's
# refusal of a damaged program, one install through every dialog and
# removetl.exe from the recorded line.
vm32_whole='base|payload|remove'
vm32_named='app|install|progman|e2e'
vm32_filter='CommandLine.*:SetInstallDefaults.*:QuietRun.*:Backdrop.ExitAtThePromptEndsWithZero'
vm32_filter+=':ModePrompt.*:GroupPrompt.ListsExistingGroupsAndStartsWithTheProposedName'
vm32_filter+=':DirectoryPrompt.OkReturnsTheEditedTextAndCancelLeavesTheResult'
vm32_filter+=':CreateDirectoryPathTest.MakesThreeMissingLevelsTopDown'
vm32_filter+=':ProgmanCommands.*:ProgmanGroups.*'
vm32_filter+=':Install.QuietInstallLeavesEveryRecord:Install.DamagedProgramSaysSoAndChangesNothing'
vm32_filter+=':Install.DialogsCarryTheInstallAndASecondRunProposesTheFirst'
vm32_filter+=':Remove.QuietRemovalTakesEverythingAway:Uninstall.RecordedLineRemovesEverything'
run_guest() {
  local vm32="bash $root/tools/vm32.sh" b=$root/build accel cmd log rc=0 t0=$SECONDS
  local summary total bad suites='' name n notrun=''
  echo "== build (in an emulated i386 machine)"
  mkdir -p "$b/vm32"
  if ! $vm32 image >/dev/null; then
    echo "The emulated i386 machine could not be built." >&2
    line+=" (FAILED: no machine image)"; failed=$((failed + 1)); return
  fi
  accel=$($vm32 accel)
  # The signed copy was made on this side; ctest must not make it again.
  local ctest="ctest -V -FS signed"
  if [ "$accel" = KVM ] || [ "${TL_VM32_SUITES:-}" = all ]; then
    cmd="cd $b && $ctest -LE host -E '^szddpack_tests\$'"
  else
    cmd="cd $b && s=0; $ctest -R '^($vm32_whole)_tests\$' -FC 'wine|fulldisk' || s=1"
    cmd+="; GTEST_FILTER='$vm32_filter' $ctest -R '^($vm32_named)_tests\$' -FS 'signed|wine|fulldisk' || s=1"
    cmd+="; exit \$s"
  fi
  log=$b/vm32/guest.log
  # The whole output goes to the log; the screen gets ctest's lines and
  # GoogleTest's counts and failures.
  set +e
  $vm32 run --timeout 2400 --prefix "$b" --console "$b/vm32/console.log" -- "$cmd" 2>&1 |
    tee "$log" | grep -E --line-buffered '^ *[0-9]+/[0-9]+ Test|tests? (passed|failed)|\[  (FAILED|PASSED|SKIPPED) |^vm32.sh:|: Failure$'
  rc=${PIPESTATUS[0]}
  set -e
  echo "(in the machine, $accel: $((SECONDS - t0)) s; output in $log, console in $b/vm32/console.log)"
  if [ "$rc" = 125 ]; then
    line+=" (FAILED: the machine did not run the suites)"; failed=$((failed + 1)); return
  fi
  [ "$rc" = 0 ] || status=1
  while read -r summary; do
    total=${summary##* }
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  done < <(grep -E 'tests failed out of [0-9]+' "$log")
  grep -qE 'tests failed out of [0-9]+' "$log" || { status=1; failed=$((failed + 1)); }
  # GoogleTest's count of each suite, by ctest's number of the test.
  local all subset=1 expected missing='' others=''
  [ "$accel" = KVM ] || [ "${TL_VM32_SUITES:-}" = all ] && subset=0
  all=$(cd "$b" && ctest -N | sed -nE 's/.*Test +#[0-9]+: ([a-z0-9]+)_tests$/\1/p' | grep -vx szddpack)
  for name in $all; do
    expected=1
    [ $subset = 1 ] && ! [[ $name =~ ^($vm32_whole|$vm32_named)$ ]] && expected=0
    n=$(awk -v t="${name}_tests" '
      $1 == "Start" { for (i = 2; i <= NF; i++) if ($i == t) { sub(":", "", $(i - 1)); num = $(i - 1) } }
      num != "" && $1 == num ":" && $2 == "[==========]" && $0 ~ / ran\./ { print $3; exit }' "$log")
    if [ $expected = 0 ]; then
      others+="${others:+, }${name}_tests"
    elif [ -n "$n" ] && [ "$n" -gt 0 ]; then
      suites+="${suites:+, }${name}_tests $n"
      [ $subset = 1 ] && [[ $name =~ ^($vm32_named)$ ]] && suites+=" (by name)"
    else
      missing+="${missing:+, }${name}_tests"
    fi
  done
  line+=" [$accel: ${suites:-no suite}"
  if [ -n "$missing" ]; then
    line+="; ran no test there: $missing"; status=1; failed=$((failed + 1))
  fi
  [ -n "$others" ] && line+="; not run there: $others (not chosen for a machine without KVM)"
  [ $subset = 1 ] &&
    line+="; the rest of ${vm32_named//|/_tests, }_tests not run there: too slow without KVM (the x86_64 build runs them)"
  line+="]"
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
# A build this machine cannot run still gets the checks of its files (and
# the signed copy the end-to-end suite installs) here.
for b in "${hostonly[@]}"; do
  echo "== $b (host-side checks)"
  run_ctest "$b" -L host
  # The packer is a host program; the x86_64 run has it otherwise.
  [[ " ${runs[*]} " == *" build-x64 "* ]] || run_ctest "$b" -R '^szddpack_tests$'
done
[ $guest = 1 ] && run_guest
[ $lanes = both ] && debian13_lane
[ $failed -eq 0 ] || status=1
echo "$line"
[ -z "$line13" ] || echo "$line13"
echo "suites: $passed passed, $failed failed"
exit $status
