#!/usr/bin/env bash
# The demo: builds setup.exe and runs it under Wine in the build's own prefix.
#   bash tools/demo.sh          install the suite
#   bash tools/demo.sh remove   remove it again
# With a display (DISPLAY set and answering) the real setup window comes up and
# you click through it. Without one it runs on a private Xvfb display, the
# demo clicks through the dialogs and takes a screenshot of each.
# It runs the shipped 32-bit program where the machine can run 32-bit code,
# else in an emulated i386 machine (tools/vm32.sh; TL_VM32=1 asks for that
# where this one could run it), else its x86_64 build (TL_ARCH=x64 asks for
# that one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-install}
wine_sh="bash $root/tests/support/wine.sh"
if [ "${VM32_GUEST:-0}" != 1 ]; then
  "$root/tools/setup-machine.sh"
  "$root/tools/build.sh" >/dev/null
fi

# The 32-bit program in the emulated machine: the demo itself runs there,
# and its screenshots come back into build/demo.
if [ "${VM32_GUEST:-0}" != 1 ] && [ "${TL_ARCH:-}" != x64 ] &&
   { [ "${TL_VM32:-0}" = 1 ] || { [ "${TL_ARCH:-}" = x86 ] && ! $wine_sh check "$root/build" 2>/dev/null; }; }; then
  if [ "${TL_VM32:-0}" = 1 ]; then why="TL_VM32=1"; else why=$($wine_sh check "$root/build" 2>&1 || true); fi
  echo "Showing the shipped 32-bit setup.exe under 32-bit Wine in an emulated i386 machine ($why)."
  bash "$root/tools/vm32.sh" image >/dev/null
  # Every run of the machine starts from the same disk: a removal installs first.
  guest="bash $root/tools/demo.sh"
  [ "$mode" = remove ] && guest="bash $root/tools/demo.sh install >/dev/null; $guest remove"
  mkdir -p "$root/build/demo" "$root/build/vm32"
  exec bash "$root/tools/vm32.sh" run --timeout 1200 --prefix "$root/build" --bring "$root/build/demo" \
    --console "$root/build/vm32/demo-console.log" -- "$guest"
fi

if [ "${TL_ARCH:-}" != x64 ] && $wine_sh check "$root/build" 2>/dev/null; then
  build=$root/build
  echo "Showing the shipped 32-bit setup.exe under 32-bit Wine."
elif why=$($wine_sh check "$root/build-x64" 2>&1); then
  build=$root/build-x64
  if [ "${TL_ARCH:-}" = x64 ]; then
    echo "Showing the x86_64 build of setup.exe under 64-bit Wine (TL_ARCH=x64)."
  else
    echo "Showing the x86_64 build of setup.exe under 64-bit Wine:" \
         "$($wine_sh check "$root/build" 2>&1)" \
         "(TL_ARCH=x86 shows the 32-bit program in an emulated i386 machine)."
  fi
else
  echo "The program cannot be shown on this machine: $why." >&2
  exit 1
fi
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
prefix=$build/wine/prefix
export DISPLAY=$(cat "$build/wine/display")

# Answers one dialog as a user would: waits for it by caption, takes a
# screenshot when asked, clicks its caption to give it the focus and
# presses Enter (its default button).
answer() {
  local caption=$1 shot=${2:-} window x y
  for _ in $(seq 300); do
    window=$(xdotool search --name "^${caption}\$" 2>/dev/null | tail -n 1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    if kill -0 $runner 2>/dev/null; then
      echo "setup.exe is running, but its \"$caption\" window did not appear within 60 seconds."
    else
      echo "setup.exe ended (exit code $(cat "$demo/exit-code" 2>/dev/null)) before its" \
           "\"$caption\" window appeared; see setup.log below."
    fi
    return 1
  fi
  # The Program Manager's folder window may cover the dialog, and
  # it can come up a moment after the dialog.
  sleep 1.5
  xdotool windowraise "$window"
  sleep 0.5
  [ -n "$shot" ] && import -window root "$demo/$shot" && echo "Screenshot: $demo/$shot"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 30)) $((Y + 8)) click 1
  sleep 0.3
  xdotool key Return
}

switches="-l"
[ "$mode" = remove ] && switches="-r -l"
echo "Running: setup.exe $switches (log in $demo/setup.log)"
cd "$demo"
rm -f "$demo/exit-code"
logged=$( [ -f setup.log ] && wc -l <setup.log || echo 0)
( rc=0; $wine_sh run "$build" "$build/setup.exe" $switches >/dev/null 2>&1 || rc=$?; echo $rc >"$demo/exit-code" ) &
runner=$!
if [ $interactive = 0 ]; then
  # No display to click on: the demo clicks through the real dialogs itself.
  if [ "$mode" = remove ]; then
    answer "Remove" removal.png || true
  else
    answer "Install" 1-mode.png &&
    answer "PROGRAM files directory" 2-destination.png &&
    answer "Program Manager Group" 3-group.png &&
    answer "Congratulations!" 4-done.png || true
  fi
fi
if [ $interactive = 0 ]; then
  for _ in $(seq 600); do kill -0 $runner 2>/dev/null || break; sleep 0.2; done
  kill -0 $runner 2>/dev/null && echo "(setup.exe did not end; stopping Wine)" && $wine_sh stop "$build"
fi
wait $runner || true
echo "Exit code: $(cat "$demo/exit-code" 2>/dev/null)"

echo; echo "== setup.log (last run) =="
[ -f setup.log ] && tail -n +$((logged + 1)) setup.log | tr -d '\r'

echo; echo "== C:\\Program Files\\Tarnlink =="
ls -l "$prefix/drive_c/Program Files/Tarnlink" 2>/dev/null || echo "(not there)"

echo; echo "== Start Menu group =="
programs=$(find "$prefix/drive_c/users" -path '*Start Menu/Programs' -type d 2>/dev/null | head -n 1)
ls -1 "$programs/Tarnlink Suite" 2>/dev/null || echo "(not there)"

echo; echo "== Registry =="
# 64-bit reg prints its error for a missing key on stdout: go by the status.
show_key() {
  local out
  if out=$($wine_sh run "$build" reg query "$1" 2>/dev/null); then
    tr -d '\r' <<<"$out" | grep -v '^$'
  else
    echo "$2"
  fi
}
show_key 'HKLM\Software\Quorvale\Tarnlink\Settings' "(no settings key)"
show_key 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tarnlink Suite' "(no Uninstall entry)"

echo; echo "== WIN.INI [Tarnlink Suite] =="
awk '/^\[Tarnlink Suite\]/{on=1; print; next} /^\[/{on=0} on' "$prefix/drive_c/windows/win.ini" 2>/dev/null | tr -d '\r' || true
