#!/usr/bin/env bash
# The mutation run: puts one mistake at a time into the sources, rebuilds the
# x86_64 build (build-x64), runs the suites that can reach the changed file
# (cheapest first, stopping at the first that fails, whose failed tests must
# fail again when run alone) and puts the file back. A mistake no suite
# notices SURVIVED.
#   bash tools/mutants.sh --sample N [--seed S] [--changed [BASE]] [--list]
#       N mistakes drawn from the product's code (tools/mutants.py reads it
#       with libclang); the same S draws the same ones (default 1). --changed
#       draws only from lines changed since BASE; --list prints the draw and
#       builds nothing. Ends with the kill rate and its 95 % interval. This is
#       the figure to report. --share K/M runs only the K-th of M shares of the
#       same draw (mutant numbers K, K+M, ...), so that M clones can share it.
#       --only N,N,... runs only those mutants of the draw (a run's survivors
#       again, against newer tests).
#   bash tools/mutants.sh                   every entry of tools/mutants.txt,
#                                           the named protections (45 minutes;
#                                           frozen: no new entries)
#   bash tools/mutants.sh --changed [BASE]  only the entries of files changed
#                                           since BASE (default: where this
#                                           branch left main), committed or not
#   bash tools/mutants.sh NAME...           only these entries
#   bash tools/mutants.sh --check           only look for STALE entries
# Not run by tools/test.sh or CI: it is too slow. The named run exits 1 when
# an entry survived, is stale or does not build; a drawn one exits 0 when it
# ran to its end. The logs are in build-x64/mutants/.
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
  uninstall/*) echo uninstall_tests e2e_tests ;;
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
sample="" draw_key=1 list_only=0 since="" share="" only=""
while [ $# -gt 0 ]; do
  case $1 in
  --check) mode=check ;;
  --sample) sample=${2:-}; shift
    [[ $sample =~ ^[1-9][0-9]*$ ]] || { echo "--sample takes a count" >&2; exit 2; } ;;
  --seed) draw_key=${2:-}; shift ;;
  --list) list_only=1 ;;
  --only) only=${2:-}; shift
    [[ $only =~ ^[1-9][0-9]*(,[1-9][0-9]*)*$ ]] || { echo "--only takes numbers, N,N,..." >&2; exit 2; } ;;
  --share) share=${2:-}; shift
    [[ $share =~ ^([1-9][0-9]*)/([1-9][0-9]*)$ ]] && [ "${BASH_REMATCH[1]}" -le "${BASH_REMATCH[2]}" ] ||
      { echo "--share takes K/M, 1 <= K <= M" >&2; exit 2; } ;;
  --changed)
    mode=changed
    if [ $# -gt 1 ] && [[ $2 != -* ]]; then since=$2; shift; fi ;;
  -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  -*) echo "Unknown option $1 (see --help)" >&2; exit 2 ;;
  *) selection+=("$1"); mode=named ;;
  esac
  shift
done
if [ "$mode" = changed ]; then
  since=${since:-$(git merge-base main HEAD 2>/dev/null || git rev-parse HEAD)}
fi

if [ -n "$sample" ] || [ $list_only = 1 ]; then
  [ "$mode" = named ] || [ "$mode" = check ] && { echo "--sample and --list take no names and no --check" >&2; exit 2; }
  # libclang for Python, from Debian's packages, when it is missing.
  if ! python3 tools/mutants.py probe 2>/dev/null; then
    echo "Installing python3-clang (libclang) for tools/mutants.py"
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    { $sudo apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends python3-clang; } \
      >"${TMPDIR:-/tmp}/mutants-apt.log" 2>&1 || { cat "${TMPDIR:-/tmp}/mutants-apt.log" >&2; exit 2; }
    python3 tools/mutants.py probe || exit 2
  fi
  # The build makes a file the product's code includes (the carried files' sums).
  if [ ! -f "$build/packed/payload_sums.inc" ]; then
    echo "Building $build first: its code is read as it is compiled"
    bash tools/build.sh "$build" >"${TMPDIR:-/tmp}/mutants-build.log" 2>&1 ||
      { echo "The sources do not build: ${TMPDIR:-/tmp}/mutants-build.log" >&2; exit 2; }
  fi
  draw_args=()
  [ "$mode" = changed ] && draw_args+=(--changed "$since")
  [ -n "$sample" ] && draw_args+=(--sample "$sample" --key "$draw_key")
  drawn=$(mktemp)
  python3 tools/mutants.py list "${draw_args[@]}" >"$drawn" || { rm -f "$drawn"; exit 2; }
  mapfile -t rows <"$drawn"
  rm -f "$drawn"
  if [ -n "$share" ] || [ -n "$only" ]; then
    kept=()
    for row in "${rows[@]}"; do
      IFS=$'\x1f' read -r number _ <<<"$row"
      [ -n "$share" ] && [ $(( (number - 1) % ${share#*/} )) -ne $(( ${share%/*} - 1 )) ] && continue
      [ -n "$only" ] && [[ ",$only," != *",$number,"* ]] && continue
      kept+=("$row")
    done
    rows=("${kept[@]}")
  fi
  if [ $list_only = 1 ]; then
    for row in "${rows[@]}"; do
      IFS=$'\x1f' read -r number file line _ _ _ _ kind before after _ <<<"$row"
      printf '%4s %s:%s %s\n       - %s\n       + %s\n' "$number" "$file" "$line" "$kind" "$before" "$after"
    done
    echo "${#rows[@]} mutants${sample:+ drawn with --seed $draw_key}${since:+ from lines changed since $since}."
    exit 0
  fi
  [ ${#rows[@]} -gt 0 ] || { echo "No mutant can be made${since:+ in the lines changed since $since}."; exit 0; }
  mode=sample
fi

if [ "$mode" = changed ]; then
  mapfile -t selection < <({ git diff --name-only "$since" --; git ls-files --others --exclude-standard; } | sort -u)
  if [ ${#selection[@]} -eq 0 ]; then echo "No file changed since $since."; exit 0; fi
fi

stale=0
if [ "$mode" != sample ]; then
  mapfile -t rows < <(entries list "${selection[@]}") || exit 2
  if [ ${#rows[@]} -eq 0 ] && [ "$mode" = changed ]; then
    echo "No entry of $list is in the changed files."; exit 0
  fi
  [ ${#rows[@]} -gt 0 ] || { echo "No entry of $list matches." >&2; exit 2; }
  if [ "$mode" = named ] && [ ${#rows[@]} -lt ${#selection[@]} ]; then
    echo "Some names are not in $list: ${selection[*]}" >&2; exit 2
  fi
  for row in "${rows[@]}"; do
    IFS=$'\t' read -r name file count _ <<<"$row"
    if [ "$count" != 1 ]; then
      echo "STALE $name: its text occurs $count times in $file"; stale=$((stale + 1))
    fi
  done
  if [ "$mode" = check ]; then
    # The list is frozen: the drawn sample is the measure, not new entries.
    [ ${#rows[@]} -le 104 ] || { echo "${#rows[@]} entries: the list is frozen at 104" >&2; exit 1; }
    echo "${#rows[@]} entries, $stale stale"
    [ $stale -eq 0 ]; exit
  fi
fi

# The file under change, kept to be put back however the run ends.
mkdir -p "$logs"
# Two runs in one clone would put each other's mistakes into the sources.
exec 9>"$logs/lock"
flock -n 9 || { echo "Another mutation run is using $build: $logs/lock" >&2; exit 2; }
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

# What each suite took on the unchanged sources (seconds), measured by the
# baseline below: suites run cheapest first, and one that takes far longer
# than that with a mutant in is stopped as hanging.
declare -A cost=()
limit_of() { echo $(( ${cost[$1]:-200} * 4 + 60 )); }

# Runs one ctest entry; its output goes to $2, within $3 seconds (default
# 900). 0 when it passed; 124 when it ran out of time.
run_suite() {
  in_background timeout -k 30 "${3:-900}" ctest --test-dir "$build" -R "^$1\$" --output-on-failure >"$2" 2>&1
  local status=$?
  $wine_sh stop "$root/$build" >/dev/null 2>&1
  [ $status -eq 124 ] && { echo "*** stopped after ${3:-900} s" >>"$2"; return 124; }
  # ctest without the entry (a host that cannot run it) counts as a failure too.
  grep -q "100% tests passed" "$2" && [ $status -eq 0 ]
}

# The suites that can see a change in a file, cheapest first as measured.
ordered_suites() {
  local s
  for s in $(suites_for "$1"); do echo "${cost[$s]:-0} $s"; done | sort -s -n -k1,1 | cut -d' ' -f2
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
  [ -z "$t" ] && t=$(grep -m1 -oE '\*\*\*(Timeout|Exception[^ ]*|Failed)|\*\*\* stopped after [0-9]+ s' "$2" |
    sed 's/^\*\*\* *//; s/^stopped/hangs, stopped/')
  echo "$1: ${t:-failed}"
}

# 0 when suite $1 fails with the mutant in: the tests that failed must fail
# again when run alone, so that a test that fails now and then kills nothing;
# a suite that failed without naming a test (a crash, a hang) must fail again
# whole. The flaky ones are noted in $flaky.
kills() {
  local s=$1 log=$2 tests limit
  limit=$(limit_of "$s")
  run_suite "$s" "$log" "$limit" && return 1
  tests=$(failed_tests "$log")
  if [ -z "$tests" ]; then
    run_suite "$s" "${log%.log}-again.log" "$limit" && { flaky+="$s (whole) "; return 1; }
    return 0
  fi
  GTEST_FILTER=$tests run_suite "$s" "${log%.log}-again.log" "$limit" && { flaky+="$s: $tests "; return 1; }
  return 0
}

# The suites must pass on the unchanged sources, or no result means anything.
needed=()
for row in "${rows[@]}"; do
  # Both kinds of row have the file second.
  IFS=$'\t\x1f' read -r _ file _ <<<"$row"
  for s in $(suites_for "$file"); do
    [[ " ${needed[*]} " == *" $s "* ]] || needed+=("$s")
  done
done
echo "Baseline: building and running ${needed[*]}"
build_x64 "$logs/baseline-build.log" || { echo "The unchanged sources do not build: $logs/baseline-build.log" >&2; exit 2; }
for s in "${needed[@]}"; do
  # Once more before giving up: one test may fail now and then.
  t0=$(date +%s)
  if ! run_suite "$s" "$logs/baseline-$s.log" && ! { t0=$(date +%s); run_suite "$s" "$logs/baseline-$s.log"; }; then
    echo "$(failed_test "$s" "$logs/baseline-$s.log") fails without any mutant: $logs/baseline-$s.log" >&2
    exit 2
  fi
  cost[$s]=$(( $(date +%s) - t0 ))
done
echo "Baseline: $(for s in "${needed[@]}"; do printf '%s %ss, ' "$s" "${cost[$s]}"; done | sed 's/, $//')"

# The change of one row: a named entry of the list, or a drawn mutant.
apply_row() {
  if [ "$mode" = sample ]; then
    IFS=$'\x1f' read -r _ file _ start end replacement original _ <<<"$1"
    python3 tools/mutants.py apply "$file" "$start" "$end" "$replacement" "$original"
  else
    IFS=$'\t' read -r name _ <<<"$1"
    entries apply "$name"
  fi
}

killed=0 survived=0 errors=0
results=()
sep=$'\x1f'  # between a result's fields: the texts may hold '|'.
started=$(date +%s)
for row in "${rows[@]}"; do
  if [ "$mode" = sample ]; then
    IFS=$'\x1f' read -r number file line _ _ _ _ kind before after change <<<"$row"
    name=$(printf 'm%03d-%s-%s' "$number" "${file//\//-}" "$line")
    count=1 breaks=""
    printf '[%s/%s] %s:%s (%s)\n  - %s\n  + %s\n' "$number" "${#rows[@]}" "$file" "$line" "$kind" "$before" "$after"
  else
    IFS=$'\t' read -r name file count breaks <<<"$row"
  fi
  t0=$(date +%s)
  if [ "$count" != 1 ]; then
    results+=("STALE|$name|$file|text occurs $count times|0"); continue
  fi
  cp "$file" "$saved"
  changed=$file
  if ! apply_row "$row"; then
    restore; errors=$((errors + 1))
    if [ "$mode" = sample ]; then
      results+=("ERROR$sep$number$sep$file:$line$sep$kind$sep$change$sep""could not apply$sep""0")
    else
      results+=("ERROR|$name|$file|could not apply|0")
    fi
    continue
  fi
  verdict=SURVIVED by="no suite failed" flaky=""
  if ! build_x64 "$logs/$name-build.log"; then
    verdict=ERROR by="does not build: $logs/$name-build.log"
    [ "$mode" = sample ] && verdict="NOT BUILT" by="$logs/$name-build.log"
  else
    for s in $(ordered_suites "$file"); do
      if kills "$s" "$logs/$name-$s.log"; then
        verdict=KILLED by=$(failed_test "$s" "$logs/$name-$s.log"); break
      fi
    done
  fi
  [ -n "$flaky" ] && [ "$verdict" = SURVIVED ] && by="failed only now and then: $flaky"
  restore
  case $verdict in KILLED) killed=$((killed + 1)) ;; SURVIVED) survived=$((survived + 1)) ;; *) errors=$((errors + 1)) ;; esac
  secs=$(($(date +%s) - t0))
  if [ "$mode" = sample ]; then
    results+=("$verdict$sep$number$sep$file:$line$sep$kind$sep$change$sep$by$sep$secs")
    printf '  %s %s (%ss)\n' "$verdict" "$by" "$secs"
  else
    results+=("$verdict|$name|$file|$by|$secs")
    printf '%-8s %-32s %s (%ss)\n' "$verdict" "$name" "$by" "$secs"
  fi
done
# The build matches the sources again.
build_x64 "$logs/final-build.log" || echo "The final rebuild failed: $logs/final-build.log" >&2

# K of N as a percentage with its 95 % interval (Wilson score).
rate() {
  awk -v k="$1" -v n="$2" 'BEGIN { z = 1.96; p = k / n; d = 1 + z * z / n
    c = (p + z * z / (2 * n)) / d; h = z * sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / d
    lo = c - h < 0 ? 0 : c - h; hi = c + h > 1 ? 1 : c + h
    printf "%.1f %% (95 %% interval %.1f-%.1f %%, Wilson score)", 100 * p, 100 * lo, 100 * hi }'
}

{
  echo
  total=$((killed + survived))
  if [ "$mode" = sample ]; then
    printf '| %3s | %-9s | %-28s | %-12s | %-48s | %-56s | %4s |\n' "#" result where kind change "killed by" s
    printf '|%s|%s|%s|%s|%s|%s|%s|\n' ----- ----------- ------------------------------ -------------- \
      -------------------------------------------------- ---------------------------------------------------------- ------
    for r in "${results[@]}"; do
      IFS=$sep read -r verdict number where kind change by secs <<<"$r"
      printf '| %3s | %-9s | %-28s | %-12s | %-48s | %-56s | %4s |\n' "$number" "$verdict" "$where" "$kind" "$change" "$by" "$secs"
    done
    echo
    if [ $total -gt 0 ]; then
      echo "Killed $killed of $total that built: $(rate $killed $total); $survived survived," \
           "$errors not built (not counted); ${#rows[@]} drawn with --seed $draw_key${since:+ from lines changed since $since};" \
           "$(( ($(date +%s) - started) / 60 )) min."
    else
      echo "Nothing built: $errors not built."
    fi
  else
    printf '| %-8s | %-32s | %-26s | %-60s | %5s |\n' result mutant file "killed by" s
    printf '|%s|%s|%s|%s|%s|\n' ---------- ---------------------------------- ---------------------------- -------------------------------------------------------------- -------
    for r in "${results[@]}"; do
      IFS='|' read -r verdict name file by secs <<<"$r"
      printf '| %-8s | %-32s | %-26s | %-60s | %5s |\n' "$verdict" "$name" "$file" "$by" "$secs"
    done
    echo
    if [ $total -gt 0 ]; then
      echo "Killed $killed of $total ($((killed * 1000 / total / 10)).$((killed * 1000 / total % 10)) %)," \
           "$survived survived, $stale stale, $errors not built; $(( ($(date +%s) - started) / 60 )) min."
    else
      echo "Nothing ran: $stale stale, $errors not built."
    fi
  fi
} | tee "$logs/report.txt"
[ "$mode" = sample ] && exit 0
[ $survived -eq 0 ] && [ $stale -eq 0 ] && [ $errors -eq 0 ]
