#!/usr/bin/env bash
# The test command: installs what the machine lacks, builds, runs every suite
# (under Wine on a private Xvfb display) and exits non-zero when any fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-machine.sh"
"$root/tools/build.sh"
cd "$root/build"
status=0
ctest --output-on-failure || status=$?
# ctest's cleanup fixture stops Wine and Xvfb; make sure of it after a crash too.
bash "$root/tests/support/wine.sh" stop "$root/build" >/dev/null 2>&1 || true
exit $status
