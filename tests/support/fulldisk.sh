#!/usr/bin/env bash
# Two drives of their own file systems for the suites: a tmpfs of 12 KiB,
# which fills up at once, as drive T:, and one of 4 MiB, another volume than
# the temporary directory's, as drive U:. Mounting needs root (as CI runs);
# elsewhere nothing is mapped, and the tests that need the drives skip.
#   fulldisk.sh mount BUILD      (always succeeds)
#   fulldisk.sh umount BUILD
set -u
build=$(cd "$2" && pwd)
drives="t,fulldisk,12k u,otherdisk,4m"
release() {
  local drive name size
  for entry in $drives; do
    IFS=, read -r drive name size <<<"$entry"
    rm -f "$build/wine/prefix/dosdevices/$drive:"
    if mountpoint -q "$build/wine/$name" 2>/dev/null; then umount "$build/wine/$name"; fi
    rmdir "$build/wine/$name" 2>/dev/null
  done
  return 0
}
case $1 in
mount)
  release
  [ "$(id -u)" = 0 ] && [ -d "$build/wine/prefix/dosdevices" ] || exit 0
  for entry in $drives; do
    IFS=, read -r drive name size <<<"$entry"
    mkdir -p "$build/wine/$name"
    if mount -t tmpfs -o "size=$size,mode=0777" "tarnlink-$name" "$build/wine/$name" 2>/dev/null; then
      ln -s "$build/wine/$name" "$build/wine/prefix/dosdevices/$drive:"
    else
      rmdir "$build/wine/$name"
    fi
  done
  exit 0 ;;
umount) release ;;
*) echo "usage: fulldisk.sh mount|umount BUILD" >&2; exit 2 ;;
esac
