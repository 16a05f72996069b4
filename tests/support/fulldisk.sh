#!/usr/bin/env bash
# A small drive that fills up at once, for the suites: a tmpfs of 12 KiB
# mapped as drive T: in the build's Wine prefix. Mounting needs root (as CI
# runs); elsewhere nothing is mapped, and the tests that need the drive skip.
#   fulldisk.sh mount BUILD      (always succeeds)
#   fulldisk.sh umount BUILD
set -u
build=$(cd "$2" && pwd)
point=$build/wine/fulldisk
link=$build/wine/prefix/dosdevices/t:
release() {
  rm -f "$link"
  if mountpoint -q "$point" 2>/dev/null; then umount "$point"; fi
  rmdir "$point" 2>/dev/null
  return 0
}
case $1 in
mount)
  release
  [ "$(id -u)" = 0 ] && [ -d "$build/wine/prefix/dosdevices" ] || exit 0
  mkdir -p "$point"
  if mount -t tmpfs -o size=12k,mode=0777 tarnlink-fulldisk "$point" 2>/dev/null; then
    ln -s "$point" "$link"
  else
    rmdir "$point"
  fi
  exit 0 ;;
umount) release ;;
*) echo "usage: fulldisk.sh mount|umount BUILD" >&2; exit 2 ;;
esac
