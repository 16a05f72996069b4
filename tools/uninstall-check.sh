#!/usr/bin/env bash
# Install, then uninstall as a user does it from Add/Remove Programs: runs the
# UninstallString the setup program recorded, answers the uninstaller's
# question and takes screenshots of it and of the final message, and compares
# the prefix before and after (drive_c listing, registry, WIN.INI).
#   bash tools/uninstall-check.sh [build-x64|build]
# Output and screenshots go to <build>/uninstall-check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${1:-build-x64}
out=$build/uninstall-check
rm -rf "$out"; mkdir -p "$out"
wine_sh="bash $root/tests/support/wine.sh"
$wine_sh start "$build" fresh >/dev/null
trap '$wine_sh stop "$build" >/dev/null 2>&1 || true' EXIT
prefix=$build/wine/prefix
export DISPLAY=$(cat "$build/wine/display")
run() { $wine_sh run "$build" "$@"; }
caption="Uninstall Tarnlink Suite"
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tarnlink Suite'
windows_out="Z:${out//\//\\}"

snapshot() {
  (cd "$prefix/drive_c" && find . | LC_ALL=C sort) >"$out/$1-drive_c.txt"
  local k
  for k in 'HKLM\Software' 'HKCU\Software' 'HKLM\System\CurrentControlSet\Control\Session Manager'; do
    run reg export "$k" "$windows_out\\reg.tmp" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$out/reg.tmp" | tr -d '\r' >>"$out/$1-registry.txt"
    rm -f "$out/reg.tmp"
  done
  tr -d '\r' <"$prefix/drive_c/windows/win.ini" >"$out/$1-win.ini"
}

window_other_than() {
  local seen=$1 w
  for _ in $(seq 150); do
    for w in $(xdotool search --name "^${caption}\$" 2>/dev/null); do
      [ "$w" != "$seen" ] && { echo "$w"; return 0; }
    done
    sleep 0.2
  done
  return 1
}

# Shoots the box, then presses its default button (Yes, or OK).
answer() {
  local window=$1 shot=$2 x y
  sleep 1
  xdotool windowraise "$window"; sleep 0.3
  import -window root "$out/$shot"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 30)) $((Y + 8)) click 1; sleep 0.3
  xdotool key Return
}

snapshot before
run "$build/setup.exe" -q
line=$(run reg query "$uninstall_key" /v UninstallString | tr -d '\r' |
       sed -n 's/^ *UninstallString *REG_SZ *//p')
echo "Recorded UninstallString: $line"
run reg query "$uninstall_key" | tr -d '\r' | grep -v '^$' >"$out/uninstall-entry.txt"

# The line's own quoting gives the program and its arguments.
eval "set -- $line"
( rc=0; run "$@" >/dev/null 2>&1 || rc=$?; echo $rc >"$out/first-exit-code" ) &
question=$(window_other_than none)
answer "$question" question.png
final=$(window_other_than "$question")
answer "$final" final.png
for _ in $(seq 150); do
  [ ! -d "$prefix/drive_c/Program Files/Tarnlink" ] &&
    ! run reg query "$uninstall_key" >/dev/null 2>&1 && break
  sleep 0.2
done
wait
sleep 2
snapshot after

echo "First process exit code: $(cat "$out/first-exit-code")"
echo "Screenshots: $out/question.png $out/final.png"
for part in drive_c.txt registry.txt win.ini; do
  echo "== $part: before -> after =="
  diff "$out/before-$part" "$out/after-$part" && echo "(the same)" || true
done
