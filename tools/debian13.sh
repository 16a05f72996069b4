#!/usr/bin/env bash
# A Debian 13 (trixie) root for the Debian 13 lane of tools/test.sh: Wine 10,
# MinGW-w64 GCC 14, CMake 3.31. The root is made once per machine with
# mmdebstrap from Debian's archive and kept outside the clone, under a name
# taken from the hash of the recipe below, so a changed recipe makes a new
# one. Runs enter it with chroot, as root.
#   debian13.sh root              make the root unless it is there; prints its folder
#   debian13.sh run [--] COMMAND  runs COMMAND with bash in the root, in the
#       clone (seen at its own path), and exits with its exit code. The
#       clone's build/ and build-x64/ are the root's own there: they are
#       build-debian13/build and build-debian13/build-x64 of the clone, so the
#       builds of this machine's compilers stay as they are.
# Every mount a run makes is in a mount namespace of the run's own, so none
# outlives it, however it ends; its processes end with it.
# DEBIAN13_CACHE names the cache folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${DEBIAN13_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnlink-debian13}

# >>> root recipe: everything up to the end mark names the root; change any
# of it and a new root is made.
deb_suite=trixie
deb_mirror=http://deb.debian.org/debian
# What tools/setup-machine.sh installs on Debian 12, in Debian 13's names.
deb_packages=wine,wine64,xvfb,xauth,cmake,ninja-build,googletest,g++,python3,python3-pefile,procps,mount,
deb_packages+=g++-mingw-w64-i686-posix,g++-mingw-w64-x86-64-posix,imagemagick,x11-utils,xdotool,
deb_packages+=mscompress,libmspack-dev,osslsigncode,openssl
# 32-bit Wine only where this machine runs 32-bit code: elsewhere no i386
# package could be set up (and no 32-bit program run).
deb_i386_packages=wine32:i386,libwine:i386
# <<< root recipe

can_run_i386() { /usr/lib/wine/wineserver32 --version >/dev/null 2>&1 || arch-test i386 >/dev/null 2>&1; }
if can_run_i386; then deb_kind=amd64+i386; else deb_kind=amd64; fi
recipe_hash() {
  { sed -n '/^# >>> root recipe/,/^# <<< root recipe/p' "$0"; echo "$deb_kind"; } |
    sha256sum | cut -c1-16
}
tree=$cache/$(recipe_hash)

die() { echo "debian13.sh: $*" >&2; exit 125; }
[ "$(id -u)" -eq 0 ] || die "the Debian 13 root is made and entered as root (chroot)"

make_root() {
  local part=$tree.part t0=$SECONDS arches=amd64 packages=$deb_packages
  if [ "$deb_kind" = amd64+i386 ]; then arches=amd64,i386 packages+=",$deb_i386_packages"; fi
  command -v mmdebstrap >/dev/null || die "no mmdebstrap (tools/setup-machine.sh installs it)"
  rm -rf "$part"
  mkdir -p "$part"
  echo "Making the Debian 13 root in $tree (once per machine; log: $part.log)"
  if ! mmdebstrap --variant=apt --architectures="$arches" --include="$packages" \
        --aptopt='APT::Install-Recommends "false"' \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
        "$deb_suite" "$part" "$deb_mirror" >"$part.log" 2>&1; then
    tail -n 20 "$part.log" >&2
    rm -rf "$part"
    die "mmdebstrap failed (log: $part.log)"
  fi
  mv "$part" "$tree"
  mv "$part.log" "$tree.log"
  echo "Debian 13 root ready in $((SECONDS - t0)) s ($(du -sh "$tree" | cut -f1)): $tree"
  # Roots of earlier recipes only take room.
  local old
  for old in "$cache"/*; do
    case $old in "$tree" | "$tree.log" | "$cache/lock") ;; *) rm -rf "$old" ;; esac
  done
}

# The run's first process, in namespaces of its own (see "run" below): the
# root's /sys and /dev are the machine's, its /proc the run's own, its /tmp a
# new one; the clone is at its own path with the root's own build folders
# over build/ and build-x64/.
enter() {
  local d child rc=0
  for d in sys dev; do mount --rbind "/$d" "$tree/$d"; done
  mount -t proc proc "$tree/proc"
  mount -t tmpfs tmpfs "$tree/tmp"
  mount -t tmpfs tmpfs "$tree/run"
  mkdir -p "$tree$root" "$root/build-debian13/build" "$root/build-debian13/build-x64"
  mount --bind "$root" "$tree$root"
  for d in build build-x64; do
    mkdir -p "$root/$d"
    mount --bind "$root/build-debian13/$d" "$tree$root/$d"
  done
  cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
  # A clean environment, with the choices a run passes on.
  local pass=() v
  for v in TL_ARCH GTEST_FILTER; do [ -n "${!v:-}" ] && pass+=("$v=${!v}"); done
  chroot "$tree" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM="${TERM:-dumb}" TL_IN_DEBIAN13=1 \
    TL_DEBIAN13_KIND=$deb_kind \
    "${pass[@]}" bash -c "cd $(printf %q "$root") && $1" &
  child=$!
  # A stopped run stops its command; the namespace's end takes the rest.
  trap 'kill -TERM $child 2>/dev/null' INT TERM HUP
  while kill -0 $child 2>/dev/null; do wait $child; rc=$?; done
  trap - INT TERM HUP
  # The mounts would go with the namespace anyway; take them down in order.
  umount -R "$tree$root" "$tree/run" "$tree/tmp" "$tree/proc" "$tree/dev" "$tree/sys" 2>/dev/null
  return $rc
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
root)
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  [ -d "$tree/usr" ] || make_root >&2
  echo "$tree"
  ;;
run)
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || die "run: no command"
  [ -d "$tree/usr" ] || die "no Debian 13 root at $tree (run 'debian13.sh root' first)"
  # Mount and process namespaces of the run's own: when its first process
  # ends, the kernel ends every process the run left and takes its mounts
  # with them; when this script is stopped or killed, that process is told.
  exec unshare --mount --propagation private --pid --fork --kill-child=TERM -- \
    bash "$0" enter "$*"
  ;;
enter)
  enter "$1"
  ;;
*)
  echo "usage: debian13.sh root | run [--] COMMAND" >&2
  exit 2 ;;
esac
