#!/usr/bin/env bash
# Wine for the test suites and the demo: a prefix of the build's own, a
# private Xvfb display and one warm wineserver. The 32-bit build (./build)
# gets a win32 prefix and 32-bit Wine, the x86_64 build (./build-x64) a win64
# prefix and 64-bit Wine; each loader and server is called by path, since
# Debian's "wine" picks the 32-bit one even where the kernel cannot run it.
#   wine.sh start BUILD [fresh]          display, prefix, warm server; "fresh"
#                                        puts the registry and WIN.INI back as
#                                        the prefix was made
#   With WINE_USE_DISPLAY=1 the display in DISPLAY is used instead of Xvfb.
#   wine.sh run BUILD PROGRAM [ARGS...]   run a Windows program there
#   wine.sh stop BUILD                   stop the server and the display
#   TL_WINEDEBUG sets WINEDEBUG for a run (else -all).
#   wine.sh check BUILD                  can this machine run that build? (says
#                                        why not on stderr)
set -u
cmd=$1
build=$(cd "$2" && pwd)
shift 2
state=$build/wine
# The build says which Windows it is for (written when it is configured).
arch=$(cat "$build/wine-arch" 2>/dev/null || echo win32)
# The 64-bit server serves 32-bit programs as well (Debian's own wrapper
# prefers it); the 32-bit one is what tells whether 32-bit code runs here.
if [ "$arch" = win64 ]; then
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  probe=/usr/lib/wine/wineserver64
else
  export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
  probe=/usr/lib/wine/wineserver32
fi
wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }
export WINEPREFIX=$state/prefix WINEARCH=$arch WINEDEBUG=${TL_WINEDEBUG:--all}
# No Mono or Gecko: their installers would stop the prefix's creation to ask.
# No winemenubuilder: every shortcut the Program Manager saves would start one.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

display_alive() {
  [ -f "$state/display" ] || return 1
  [ -f "$state/xvfb.pid" ] || return 0
  kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

start_display() {
  local size=800x600 n
  for n in $(seq 90 150); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 50); do
      # Ours only when the lock names our server: another run may have
      # taken the same number a moment before.
      if [ -e /tmp/.X11-unix/X$n ] &&
         [ "$(tr -d ' \n' </tmp/.X$n-lock 2>/dev/null)" = "$(cat "$state/xvfb.pid")" ]; then
        echo ":$n" >"$state/display"; return 0
      fi
      kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "wine.sh: no X display could be started" >&2
  return 1
}

make_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  rm -rf "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
  # Title bars drawn by Wine itself (there is no window manager), and no
  # crash dialog that would keep a failed test waiting.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  mkdir -p "$state/pristine"
  cp "$WINEPREFIX"/{system.reg,user.reg,userdef.reg} "$state/pristine/"
  cp "$WINEPREFIX/drive_c/windows/win.ini" "$state/pristine/" 2>/dev/null || true
}

# Registry and WIN.INI as the prefix was made: a fresh machine for each suite.
restore_prefix() {
  cp "$state/pristine"/{system.reg,user.reg,userdef.reg} "$WINEPREFIX/"
  if [ -f "$state/pristine/win.ini" ]; then
    cp "$state/pristine/win.ini" "$WINEPREFIX/drive_c/windows/win.ini"
  else
    rm -f "$WINEPREFIX/drive_c/windows/win.ini"
  fi
  rm -rf "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/"* \
         "$WINEPREFIX/drive_c/Program Files/Tarnlink" "$WINEPREFIX/drive_c/WIN32APP" \
         "$WINEPREFIX/drive_c/Tarnlink"
}

warm_server() {
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

# Whether this machine can run the build's Wine at all; the reason if not.
check_machine() {
  local why
  if [ ! -x "$WINELOADER" ] || [ ! -x "$probe" ]; then
    echo "${arch#win}-bit Wine is not installed" >&2; return 1
  fi
  if ! why=$("$probe" --version 2>&1 >/dev/null); then
    case $why in
    *"Exec format error"*)
      echo "this machine cannot run ${arch#win}-bit programs (its kernel refuses them)" >&2 ;;
    *) echo "$probe does not start: $why" >&2 ;;
    esac
    return 1
  fi
}

case $cmd in
check)
  check_machine
  ;;
start)
  check_machine || exit 1
  mkdir -p "$state"
  if [ "${WINE_USE_DISPLAY:-0}" = 1 ]; then
    rm -f "$state/xvfb.pid"; echo "$DISPLAY" >"$state/display"
  elif ! display_alive || [ ! -f "$state/xvfb.pid" ]; then
    start_display || exit 1
  fi
  export DISPLAY=$(cat "$state/display")
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  make_prefix
  [ "${1:-}" = fresh ] && restore_prefix
  warm_server
  echo "wine ready on $DISPLAY, prefix $WINEPREFIX"
  ;;
run)
  display_alive || { echo "wine.sh: run 'wine.sh start $build' first" >&2; exit 1; }
  export DISPLAY=$(cat "$state/display")
  # Wine's desktop and the Program Manager's folder windows outlive the
  # program and inherit its output: send that to a file, not to the caller's
  # pipe, or the caller (ctest) waits for them.
  out=$(mktemp)
  wine "$@" >"$out" 2>&1 </dev/null
  rc=$?
  cat "$out"; rm -f "$out"
  exit $rc
  ;;
stop)
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null; rm -f "$state/xvfb.pid"; fi
  rm -f "$state/display"
  ;;
*)
  echo "usage: wine.sh start|run|stop BUILD ..." >&2; exit 2 ;;
esac
