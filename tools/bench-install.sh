#!/usr/bin/env bash
# The quiet install against its peer, in one run: setup.exe -q and an NSIS
# installer of the same seven files, four shortcuts, keys and WIN.INI lines
# (built here with Debian's nsis), timed alternately in one Wine prefix with
# a virtual desktop (no wait for windows at exit), the Wine server kept warm
# as a user's session has it. Then a DDE trace of one install: the time
# inside its Program Manager conversations and between them.
#   bash tools/bench-install.sh [RUNS] [--also SETUP.EXE]...
# --also times another build of setup.exe beside ours (an older revision,
# say), in the same rounds. TL_ARCH=x64 times the x86_64 build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=7 others=()
while [ $# -gt 0 ]; do
  case $1 in
  --also) others+=("$(realpath "$2")"); shift 2 ;;
  *) runs=$1; shift ;;
  esac
done
command -v makensis >/dev/null || {
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nsis >/dev/null
}
"$root/tools/build.sh" >/dev/null
wine_sh="bash $root/tests/support/wine.sh"
# The shipped 32-bit program where the machine runs it, else the x86_64 build.
build=$root/build
if [ "${TL_ARCH:-}" = x64 ] || ! $wine_sh check "$build" 2>/dev/null; then
  build=$root/build-x64
fi
# A prefix of the benchmark's own, beside the suites' one.
bench=$build/bench
mkdir -p "$bench"
cp "$build/wine-arch" "$bench/"
work=$(mktemp -d)
trap '$wine_sh stop "$bench" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
$wine_sh start "$bench" >/dev/null
prefix=$bench/wine/prefix
reg() { $wine_sh run "$bench" reg "$@" >/dev/null; }
reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f
$wine_sh start "$bench" >/dev/null

# The peer: the same files, shortcuts, values and lines under names of its
# own, so that the two never meet.
cp "$build"/{tarnlink.exe,tarnlink.dll,removetl.exe} "$root"/resources/payload/{tarnlink.hlp,tarnlink.cnt,tarnlink.txt,mib.txt} "$work/"
u='SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tarnlink NSIS'
line='"$INSTDIR\removetl.exe"'
cat >"$work/peer.nsi" <<EOF
Unicode false
Name "Tarnlink Suite"
OutFile "peer.exe"
InstallDir "\$PROGRAMFILES\Tarnlink NSIS"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File tarnlink.exe
  File tarnlink.hlp
  File tarnlink.cnt
  File tarnlink.dll
  File tarnlink.txt
  File removetl.exe
  File mib.txt
  WriteRegDWORD HKLM "Software\Quorvale\Tarnlink NSIS\Settings" "Applets" 0
  WriteRegDWORD HKLM "Software\Quorvale\Tarnlink NSIS\Settings" "RawSock" 0
  CreateDirectory "\$SMPROGRAMS\Tarnlink NSIS"
  CreateShortCut "\$SMPROGRAMS\Tarnlink NSIS\Tarnlink Suite.lnk" "\$INSTDIR\tarnlink.exe"
  CreateShortCut "\$SMPROGRAMS\Tarnlink NSIS\Tarnlink Suite Help File.lnk" "\$INSTDIR\tarnlink.hlp"
  CreateShortCut "\$SMPROGRAMS\Tarnlink NSIS\Tarnlink Suite Release Notes.lnk" "\$INSTDIR\tarnlink.txt"
  CreateShortCut "\$SMPROGRAMS\Tarnlink NSIS\Uninstall Tarnlink Suite.lnk" "\$INSTDIR\removetl.exe"
  WriteRegStr HKLM "$u" "DisplayName" "Quorvale Tarnlink Suite Uninstall"
  WriteRegStr HKLM "$u" "UninstallString" '${line//\$/\\\$} -f "\$INSTDIR" -d "\$INSTDIR" -g "Tarnlink NSIS"'
  WriteRegStr HKLM "$u" "QuietUninstallString" '${line//\$/\\\$} -q -f "\$INSTDIR" -d "\$INSTDIR" -g "Tarnlink NSIS"'
  WriteRegStr HKLM "$u" "Publisher" "Quorvale"
  WriteRegStr HKLM "$u" "DisplayVersion" "2.1"
  WriteRegDWORD HKLM "$u" "VersionMajor" 2
  WriteRegDWORD HKLM "$u" "VersionMinor" 1
  WriteRegStr HKLM "$u" "InstallDate" "20261209"
  WriteRegStr HKLM "$u" "DisplayIcon" "\$INSTDIR\removetl.exe"
  WriteRegStr HKLM "$u" "InstallLocation" "\$INSTDIR"
  WriteRegDWORD HKLM "$u" "EstimatedSize" 100
  WriteRegDWORD HKLM "$u" "NoModify" 1
  WriteRegDWORD HKLM "$u" "NoRepair" 1
  WriteINIStr "\$WINDIR\win.ini" "Tarnlink NSIS" "DIR" "\$INSTDIR"
  WriteINIStr "\$WINDIR\win.ini" "Tarnlink NSIS" "DEFDIR" "\$INSTDIR"
  WriteINIStr "\$WINDIR\win.ini" "Tarnlink NSIS" "GROUP" "Tarnlink NSIS"
  WriteINIStr "\$WINDIR\win.ini" "Tarnlink NSIS" "INSTOPTS" "1"
SectionEnd
EOF
(cd "$work" && makensis -V1 peer.nsi >/dev/null)
menu=$(find "$prefix/drive_c" -path '*Start Menu/Programs' -type d | head -n 1)

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# The Program Manager opens a folder window (an explorer.exe of its own) for
# each group it makes; they would use the machine's time for later rounds.
close_folders() {
  local pid
  for pid in $(pgrep -f 'explorer.exe.*Programs' || true); do
    grep -qz "^WINEPREFIX=$prefix\$" "/proc/$pid/environ" 2>/dev/null && kill "$pid" 2>/dev/null
  done
  return 0
}
timed() {   # label command...: appends the seconds to the label's list
  local t0 t1
  t0=$(now); $wine_sh run "$bench" "${@:2}" >/dev/null || echo "warning: $1 exited $?" >&2; t1=$(now)
  printf '%s\n' "$(awk "BEGIN {printf \"%.3f\", $t1 - $t0}")" >>"$work/$1.times"
}

cd "$work"
programs=("$build/setup.exe" "${others[@]}")
for _ in $(seq "$runs"); do
  for i in "${!programs[@]}"; do
    timed "install$i" "${programs[$i]}" -q
    timed "removal$i" "${programs[$i]}" -q -r
    close_folders
  done
  timed peer "$work/peer.exe"
  rm -rf "$prefix/drive_c/Program Files/Tarnlink NSIS" "$prefix/drive_c/Program Files (x86)/Tarnlink NSIS" "$menu/Tarnlink NSIS"
done

report() {   # label file
  printf '%-34s median %s s over %d runs (%s)\n' "$1" "$(median <"$2")" "$runs" "$(tr '\n' ' ' <"$2")"
}
peer=$(median <"$work/peer.times")
echo "Quiet install, $(basename "$(dirname "$build/x")"), $(/usr/lib/wine/wine64 --version), virtual desktop:"
for i in "${!programs[@]}"; do
  report "${programs[$i]#$root/}: install" "$work/install$i.times"
  report "${programs[$i]#$root/}: removal" "$work/removal$i.times"
  awk -v a="$(median <"$work/install$i.times")" -v b="$peer" \
    'BEGIN {printf "%-34s %.2f times the peer\n", "  install against the peer", a / b}'
done
report "NSIS $(makensis -VERSION): install" "$work/peer.times"

# One install traced: each conversation from its DdeConnect to the return of
# its DdeDisconnect; between them, the rest from the first to the last.
for i in "${!programs[@]}"; do
  TL_WINEDEBUG=+timestamp,+ddeml $wine_sh run "$bench" "${programs[$i]}" -q >"$work/trace" 2>&1 || true
  $wine_sh run "$bench" "${programs[$i]}" -q -r >/dev/null || true
  close_folders
  awk -v name="${programs[$i]#$root/}" '
    /trace:ddeml:DdeConnect / && !open { split($1, t, ":"); start = t[1]; open = 1; if (first == "") first = start }
    /trace:ddeml:DdeDisconnect / && open { split($1, t, ":"); inside += t[1] - start; last = t[1]; open = 0; n++ }
    END { if (n) printf "%s: %d conversations, %.3f s inside them, %.3f s between them\n", name, n, inside, last - first - inside
          else print name ": no conversation in the trace" }' "$work/trace"
done
