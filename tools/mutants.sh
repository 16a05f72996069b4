#!/usr/bin/env bash
# The mutation run: puts each plausible mistake of tools/mutants.txt into the
# sources on its own, rebuilds the x86_64 build (build-x64), runs the suites
# that can reach the changed file (cheap ones first, stopping at the first
# that fails, whose failed tests must fail again when run alone) and puts the
# file back. A mistake no suite notices SURVIVED.
# Prints a table and the kill rate; the logs are in build-x64/mutants/.
#   bash tools/mutants.sh                   every entry (about 45 minutes)
#   bash tools/mutants.sh --changed [BASE]  only the entries of files changed
#                                           since BASE (default: where this
#                                           branch left main), committed or not
#   bash tools/mutants.sh NAME...           only these entries
#   bash tools/mutants.sh --check           only look for STALE entries
# Not run by tools/test.sh or CI: it is too slow. Exits 1 when an entry
# survived, is stale or does not build.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
list=tools/mutants.txt
build=build-x64
logs=$build/mutants
wine_sh="bash $root/tests/support/wine.sh"

# The suites that can see a change in a file, cheapest first.
suites_for() {
  case $1 in
  base/runtime.cpp) echo base_tests e2e_tests app_tests ;;
  base/*) echo base_tests remove_tests payload_tests install_tests progman_tests e2e_tests app_tests ;;
  payload/*) echo payload_tests e2e_tests app_tests ;;
  install/*) echo install_tests e2e_tests app_tests ;;
  progman/*) echo progman_tests remove_tests install_tests e2e_tests ;;
  remove/*) echo remove_tests e2e_tests ;;
  uninstall/*) echo e2e_tests ;;
  app/*) echo program_files app_tests e2e_tests ;;
  *) echo base_tests remove_tests payload_tests install_tests progman_tests e2e_tests app_tests ;;
  esac
}

# Reads the list: "list" prints one line per entry, NAME<TAB>FILE<TAB>COUNT<TAB>BREAKS,
# COUNT being how often its text occurs in the file; "apply NAME" makes the change.
entries() {
  python3 - "$list" "$@" <<'EOF'
import sys
path, command, *names = sys.argv[1:]
entries, current = [], None
for number, line in enumerate(open(path, encoding="utf-8"), 1):
    line = line.rstrip("\n")
    if line.startswith("[") and line.endswith("]"):
        current = {"name": line[1:-1], "line": number}
        entries.append(current)
    elif current is not None and ":" in line and not line.startswith("#"):
        key, _, value = line.partition(":")
        current[key.strip()] = value[1:] if value.startswith(" ") else value
for e in entries:
    missing = [k for k in ("file", "from", "to", "breaks") if k not in e]
    if missing:
        sys.exit("%s:%d: [%s] lacks %s" % (path, e["line"], e["name"], ", ".join(missing)))
def count(e):
    try:
        return open(e["file"], encoding="utf-8").read().count(e["from"])
    except OSError:
        return 0
if command == "list":
    for e in entries:
        if not names or e["name"] in names or e["file"] in names:
            print("\t".join((e["name"], e["file"], str(count(e)), e["breaks"])))
elif command == "apply":
    e = next(e for e in entries if e["name"] == names[0])
    text = open(e["file"], encoding="utf-8").read()
    if text.count(e["from"]) != 1:
        sys.exit("%s: not exactly once in %s" % (e["name"], e["file"]))
    open(e["file"], "w", encoding="utf-8").write(text.replace(e["from"], e["to"]))
EOF
}

mode=all
selection=()
case ${1:-} in
--check) mode=check ;;
--changed)
  base=${2:-$(git merge-base main HEAD 2>/dev/null || git rev-parse HEAD)}
  mapfile -t selection < <({ git diff --name-only "$base" --; git ls-files --others --exclude-standard; } | sort -u)
  mode=changed
  if [ ${#selection[@]} -eq 0 ]; then echo "No file changed since $base."; exit 0; fi ;;
-h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
'') ;;
*) selection=("$@"); mode=named ;;
esac

mapfile -t rows < <(entries list "${selection[@]}") || exit 2
if [ ${#rows[@]} -eq 0 ] && [ "$mode" = changed ]; then
  echo "No entry of $list is in the changed files."; exit 0
fi
[ ${#rows[@]} -gt 0 ] || { echo "No entry of $list matches." >&2; exit 2; }
if [ "$mode" = named ] && [ ${#rows[@]} -lt ${#selection[@]} ]; then
  echo "Some names are not in $list: ${selection[*]}" >&2; exit 2
fi

stale=0
for row in "${rows[@]}"; do
  IFS=$'\t' read -r name file count _ <<<"$row"
  if [ "$count" != 1 ]; then
    echo "STALE $name: its text occurs $count times in $file"; stale=$((stale + 1))
  fi
done
if [ "$mode" = check ]; then
  echo "${#rows[@]} entries, $stale stale"
  [ $stale -eq 0 ]; exit
fi

# The file under change, kept to be put back however the run ends.
mkdir -p "$logs"
saved=$logs/original
changed=""
restore() {
  if [ -n "$changed" ]; then cp "$saved" "$changed"; changed=""; fi
}
# Builds and suites run in the background and are waited for, so that a
# signal is taken at once; the one under way is ended with the run.
child=""
in_background() {
  "$@" &
  child=$!
  wait "$child"
  local status=$?
  child=""
  return $status
}
finish() {
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null && wait "$child" 2>/dev/null
  restore
  $wine_sh stop "$root/$build" >/dev/null 2>&1
}
trap finish EXIT
# To the run's own output, wherever the step under way writes.
exec 3>&1
trap 'echo >&3; echo "Stopped: the sources are as they were; build-x64 rebuilds on its next build." >&3; exit 130' INT TERM

build_x64() { in_background bash tools/build.sh build-x64 >"$1" 2>&1; }

# Runs one ctest entry; its output goes to $2. 0 when it passed.
run_suite() {
  in_background timeout -k 30 900 ctest --test-dir "$build" -R "^$1\$" --output-on-failure >"$2" 2>&1
  local status=$?
  $wine_sh stop "$root/$build" >/dev/null 2>&1
  # ctest without the entry (a host that cannot run it) counts as a failure too.
  grep -q "100% tests passed" "$2" && [ $status -eq 0 ]
}

# The tests a failed suite names, joined by ':' (a GTEST_FILTER).
failed_tests() {
  grep -oE '^\[  FAILED  \] [A-Za-z0-9_/]+\.[A-Za-z0-9_./]+' "$1" | sed 's/^\[  FAILED  \] //' | sort -u |
    paste -sd: -
}

# The first test a failed suite names, else how it ended.
failed_test() {
  local t
  t=$(grep -m1 -oE '^\[  FAILED  \] [A-Za-z0-9_/]+\.[A-Za-z0-9_./]+' "$2" | sed 's/^\[  FAILED  \] //')
  [ -z "$t" ] && t=$(grep -m1 -oE '\*\*\*(Timeout|Exception[^ ]*|Failed)' "$2" | tr -d '*')
  echo "$1: ${t:-failed}"
}

# 0 when suite $1 fails with the mutant in: the tests that failed must fail
# again when run alone, so that a test that fails now and then kills nothing.
# The flaky ones are noted in $flaky.
kills() {
  local s=$1 log=$2 tests
  run_suite "$s" "$log" && return 1
  tests=$(failed_tests "$log")
  # A crash or a time-out names no test: the suite itself failed.
  [ -z "$tests" ] && return 0
  GTEST_FILTER=$tests run_suite "$s" "${log%.log}-again.log" && { flaky+="$s: $tests "; return 1; }
  return 0
}

# The suites must pass on the unchanged sources, or no result means anything.
needed=()
for row in "${rows[@]}"; do
  IFS=$'\t' read -r _ file _ _ <<<"$row"
  for s in $(suites_for "$file"); do
    [[ " ${needed[*]} " == *" $s "* ]] || needed+=("$s")
  done
done
echo "Baseline: building and running ${needed[*]}"
build_x64 "$logs/baseline-build.log" || { echo "The unchanged sources do not build: $logs/baseline-build.log" >&2; exit 2; }
for s in "${needed[@]}"; do
  # Once more before giving up: one test may fail now and then.
  if ! run_suite "$s" "$logs/baseline-$s.log" && ! run_suite "$s" "$logs/baseline-$s.log"; then
    echo "$(failed_test "$s" "$logs/baseline-$s.log") fails without any mutant: $logs/baseline-$s.log" >&2
    exit 2
  fi
done

killed=0 survived=0 errors=0
results=()
started=$(date +%s)
for row in "${rows[@]}"; do
  IFS=$'\t' read -r name file count breaks <<<"$row"
  t0=$(date +%s)
  if [ "$count" != 1 ]; then
    results+=("STALE|$name|$file|text occurs $count times|0"); continue
  fi
  cp "$file" "$saved"
  changed=$file
  entries apply "$name" || { restore; results+=("ERROR|$name|$file|could not apply|0"); errors=$((errors + 1)); continue; }
  verdict=SURVIVED by="no suite failed" flaky=""
  if ! build_x64 "$logs/$name-build.log"; then
    verdict=ERROR by="does not build: $logs/$name-build.log"
  else
    for s in $(suites_for "$file"); do
      if kills "$s" "$logs/$name-$s.log"; then
        verdict=KILLED by=$(failed_test "$s" "$logs/$name-$s.log"); break
      fi
    done
  fi
  [ -n "$flaky" ] && [ "$verdict" = SURVIVED ] && by="failed only now and then: $flaky"
  restore
  case $verdict in KILLED) killed=$((killed + 1)) ;; SURVIVED) survived=$((survived + 1)) ;; *) errors=$((errors + 1)) ;; esac
  results+=("$verdict|$name|$file|$by|$(($(date +%s) - t0))")
  printf '%-8s %-32s %s (%ss)\n' "$verdict" "$name" "$by" "$(($(date +%s) - t0))"
done
# The build matches the sources again.
build_x64 "$logs/final-build.log" || echo "The final rebuild failed: $logs/final-build.log" >&2

{
  echo
  printf '| %-8s | %-32s | %-26s | %-60s | %5s |\n' result mutant file "killed by" s
  printf '|%s|%s|%s|%s|%s|\n' ---------- ---------------------------------- ---------------------------- -------------------------------------------------------------- -------
  for r in "${results[@]}"; do
    IFS='|' read -r verdict name file by secs <<<"$r"
    printf '| %-8s | %-32s | %-26s | %-60s | %5s |\n' "$verdict" "$name" "$file" "$by" "$secs"
  done
  echo
  total=$((killed + survived))
  if [ $total -gt 0 ]; then
    echo "Killed $killed of $total ($((killed * 1000 / total / 10)).$((killed * 1000 / total % 10)) %)," \
         "$survived survived, $stale stale, $errors not built; $(( ($(date +%s) - started) / 60 )) min."
  else
    echo "Nothing ran: $stale stale, $errors not built."
  fi
} | tee "$logs/report.txt"
[ $survived -eq 0 ] && [ $stale -eq 0 ] && [ $errors -eq 0 ]
