#!/usr/bin/env bash
# Runs one program under the fault hook of the tests (tests/faults/hook.cpp)
# in the build's Wine prefix (tests/support/wine.sh); exits with its exit code.
#   bash tools/faults.sh run [--build DIR] [--profile win95|nt351|win7rtm]
#        [--fail FUNCTION[@N|@+0xRVA][=ERROR]]... [--sites FILE] -- PROGRAM [ARGS...]
#   bash tools/faults.sh sweep [--build DIR] [N [DRAW]]
#        every call site of the quiet install, the install over an earlier one,
#        setup.exe -q -r and the uninstaller's quiet line failed in turn (N of
#        each scenario's, the DRAW'th draw, with N given), judged, and counted
# PROGRAM is a file of the build (whose build it names) or a Windows path
# (C:\...) with --build. --sites FILE gets the call sites of every process
# the run started. Wine is started for the run when that build's is not
# running, and stopped after it.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh="bash $root/tests/support/wine.sh"
usage() { sed -n 4,9p "$0" >&2; exit 2; }
if [ "${1:-}" = sweep ]; then
  shift
  build=$root/build
  [ "${1:-}" = --build ] && { build=$(cd "$2" && pwd); shift 2; }
  $wine_sh check "$build" || exit 1
  export TL_SWEEP=${1:-all} TL_SWEEP_DRAW=${2:-1}
  $wine_sh start "$build" fresh >/dev/null || exit 125
  trap '$wine_sh stop "$build"' EXIT
  out=$($wine_sh run "$build" "$build/tests/e2e_tests.exe" --gtest_filter=Faults.EveryFailedCallEndsHonestly)
  rc=$?
  grep -vE '^\[|^Note: |^$' <<<"$out"
  exit $rc
fi
[ "${1:-}" = run ] || usage
shift
build='' sites='' TL_FAULTS='' TL_FAULTS_PROFILE='' TL_FAULTS_SITES=''
while [ $# -gt 0 ]; do
  case $1 in
  --build) build=$2; shift 2 ;;
  --profile) TL_FAULTS_PROFILE=$2; shift 2 ;;
  --fail) TL_FAULTS+=${TL_FAULTS:+,}$2; shift 2 ;;
  --sites) sites=$2; shift 2 ;;
  --) shift; break ;;
  *) usage ;;
  esac
done
[ $# -gt 0 ] || usage
case $TL_FAULTS_PROFILE in ''|win95|nt351|win7rtm) ;; *) usage ;; esac
# A file of this machine as Wine's Z: drive shows it.
windows() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
program=$1
shift
if [ -f "$program" ]; then
  [ -n "$build" ] || build=$(dirname "$program")
  program=$(windows "$program")
fi
if [ -z "$build" ] || [ ! -f "$build/wine-arch" ]; then
  echo "faults.sh: which build is it? (--build DIR)" >&2; exit 2
fi
[ -z "$sites" ] || { : >"$sites" && TL_FAULTS_SITES=$(windows "$sites"); } || exit 2
export TL_FAULTS TL_FAULTS_PROFILE TL_FAULTS_SITES
if [ ! -f "$build/wine/display" ]; then
  $wine_sh start "$build" >/dev/null || exit 125
  trap '$wine_sh stop "$build"' EXIT
fi
$wine_sh run "$build" "$build/tests/tlfaults.exe" "$program" "$@"
