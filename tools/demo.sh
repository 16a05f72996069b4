#!/usr/bin/env bash
# The demo: builds setup.exe and runs it under Wine in the build's own prefix.
#   bash tools/demo.sh          install the suite
#   bash tools/demo.sh remove   remove it again
# With a display (DISPLAY set and answering) the real setup window comes up and
# you click through it. Without one the program runs quietly and logged on a
# private Xvfb display, and a screenshot of its window is taken.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-install}
"$root/tools/setup-machine.sh"
"$root/tools/build.sh" >/dev/null
build=$root/build
wine_sh="bash $root/tests/support/wine.sh"
demo=$build/demo
mkdir -p "$demo"

interactive=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi

cleanup() { $wine_sh stop "$build" >/dev/null 2>&1 || true; }
trap cleanup EXIT
if [ $interactive = 1 ]; then
  WINE_USE_DISPLAY=1 $wine_sh start "$build" >/dev/null
else
  $wine_sh start "$build" >/dev/null
fi
export WINEPREFIX=$build/wine/prefix WINEDEBUG=-all
export DISPLAY=$(cat "$build/wine/display")
prefix=$WINEPREFIX

switches="-l"
[ "$mode" = remove ] && switches="-r -l"
[ $interactive = 0 ] && switches="-q $switches"

echo "Running: setup.exe $switches (log in $demo/setup.log)"
cd "$demo"
( wine "$build/setup.exe" $switches; echo $? >"$demo/exit-code" ) &
runner=$!
if [ $interactive = 0 ]; then
  # Catch the window while the run is under way.
  for _ in $(seq 40); do
    sleep 0.25
    import -window root "$demo/$mode.png" 2>/dev/null && break
  done
fi
wait $runner || true
echo "Exit code: $(cat "$demo/exit-code")"
[ -f "$demo/$mode.png" ] && echo "Screenshot: $demo/$mode.png"

echo; echo "== setup.log (last run) =="
[ -f setup.log ] && tail -n 30 setup.log | tr -d '\r'

echo; echo "== C:\\Program Files\\Tarnlink =="
ls -l "$prefix/drive_c/Program Files/Tarnlink" 2>/dev/null || echo "(not there)"

echo; echo "== Start Menu group =="
programs=$(find "$prefix/drive_c/users" -path '*Start Menu/Programs' -type d 2>/dev/null | head -n 1)
ls -1 "$programs/Tarnlink Suite" 2>/dev/null || echo "(not there)"

echo; echo "== Registry =="
wine reg query 'HKLM\Software\Quorvale\Tarnlink\Settings' 2>/dev/null | tr -d '\r' | grep -v '^$' || echo "(no settings key)"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tarnlink Suite' 2>/dev/null | tr -d '\r' | grep -v '^$' || echo "(no Uninstall entry)"

echo; echo "== WIN.INI [Tarnlink Suite] =="
awk '/^\[Tarnlink Suite\]/{on=1; print; next} /^\[/{on=0} on' "$prefix/drive_c/windows/win.ini" 2>/dev/null | tr -d '\r' || true
