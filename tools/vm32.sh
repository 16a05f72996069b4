#!/usr/bin/env bash
# An emulated i386 Debian machine for the 32-bit programs, on machines that
# cannot run 32-bit code themselves. Its disk image is built once per machine
# (Debian bookworm i386 with 32-bit Wine, Xvfb, CTest and a win32 prefix made
# in advance) and kept outside the clone, under a name taken from the hash of
# the recipe below, so a changed recipe builds a new one.
#   vm32.sh image                 build the image unless it is there; prints its folder
#   vm32.sh accel                 KVM or TCG: how the machine would run here
#   vm32.sh run [OPTIONS] [--] COMMAND
#       boots a throwaway copy of the image, runs COMMAND with bash in the
#       guest, from the current directory, prints its output, powers the
#       machine off and exits with COMMAND's exit code. The clone is seen at
#       its own path, read-only from the host and writable in the guest (the
#       writes stay in the guest's memory and go with it).
#       --timeout SECONDS   for the whole run (default 1800); past it the
#                           machine is stopped; the guest stops COMMAND some
#                           time before that (exit code 124)
#       --console FILE      where the guest's console goes (default: the
#                           image folder's last-console.log)
#       --prefix BUILD      BUILD/wine is the image's prepared win32 prefix
#                           (the prefix and state tests/support/wine.sh keeps)
#       --bring DIR         after COMMAND, DIR (inside the clone) is copied
#                           back from the guest to the same path on the host
#   Exit codes besides COMMAND's: 125 the machine could not run it (no
#   image, a failed boot, the time limit; the console file says more).
# TL_VM32_TCG=1 emulates the processor in software even where KVM is usable,
# as a machine without /dev/kvm must. VM32_CACHE names the cache folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh=$root/tests/support/wine.sh
cache=${VM32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnlink-vm32}

# >>> image recipe: everything up to the end mark, with wine.sh's making of a
# prefix, names the image; change any of it and a new image is built.
vm_suite=bookworm
vm_mirror=http://deb.debian.org/debian
# The guest runs the suites through ctest and tests/support/wine.sh, and the
# demo with xdotool and ImageMagick's import.
vm_packages=linux-image-686,kmod,mount,procps,wine,wine32,xvfb,xauth,cmake,xdotool,imagemagick
vm_disk_size=4G
# A build folder of the image's own: wine.sh makes its win32 prefix there
# when the image is built; runs mount its wine/ over the clone's build/wine.
vm_state=/var/lib/tarnlink-vm32/build
vm_init=/sbin/tarnlink-vm32-init
guest_init() {
  cat <<'EOF'
#!/bin/bash
# The machine's first process: mounts what every job needs, then runs the
# job the host left in its control folder (tools/vm32.sh writes it).
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mountpoint -q /dev/pts || mount -t devpts devpts /dev/pts
mountpoint -q /dev/shm || mount -t tmpfs tmpfs /dev/shm
mountpoint -q /run || mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
hostname vm32
modprobe -a 9pnet_virtio 9p overlay
mkdir -p /mnt/ctl
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 ctl /mnt/ctl; then
  bash /mnt/ctl/guest.sh
else
  echo "vm32: no control folder" >/dev/console
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
}
# The prefix, made in the guest by the same code that makes it for a build
# on the host, and put back to that state at every "wine.sh start BUILD fresh".
prepare_command() {
  printf 'mkdir -p %q && echo win32 >%q/wine-arch && bash %q start %q && bash %q stop %q && test -f %q/wine/pristine/system.reg' \
    "$vm_state" "$vm_state" "$wine_sh" "$vm_state" "$wine_sh" "$vm_state" "$vm_state"
}
# <<< image recipe

# What the machine does with one job: the host's job file names the clone,
# the folder to start in, the time limit, the command, the builds that take
# the image's prefix and the folders to bring back.
guest_job() {
  cat <<EOF
say() { echo "vm32: \$*" >/dev/console; }
share='' work=/ limit=600 command='' prefix=() bring=()
. /mnt/ctl/job
if [ -n "\$share" ]; then
  # The host leaves the clone alone while the machine runs, so the guest may
  # cache it (without a cache, pages mapped from it read as zeros).
  mkdir -p /mnt/share /mnt/layer
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro share /mnt/share ||
    { say "no shared clone"; exit; }
  mount -t tmpfs tmpfs /mnt/layer
  mkdir -p /mnt/layer/upper /mnt/layer/work "\$share"
  mount -t overlay overlay \\
    -o lowerdir=/mnt/share,upperdir=/mnt/layer/upper,workdir=/mnt/layer/work "\$share" ||
    { say "no writable view of the clone"; exit; }
fi
for b in "\${prefix[@]}"; do
  mkdir -p "\$b/wine" && mount --bind $vm_state/wine "\$b/wine"
done
say "running the job"
cd "\$work" 2>/dev/null || cd /
rc=0
VM32_GUEST=1 timeout -k 15 "\$limit" bash -c "\$command" </dev/null >/mnt/ctl/out 2>&1 || rc=\$?
say "job ended with \$rc"
i=0
for d in "\${bring[@]}"; do
  mkdir -p /mnt/ctl/bring/\$i
  [ -d "\$d" ] && cp -r "\$d/." /mnt/ctl/bring/\$i/
  i=\$((i + 1))
done
echo \$rc >/mnt/ctl/rc.part && mv /mnt/ctl/rc.part /mnt/ctl/rc
EOF
}

recipe_hash() {
  { sed -n '/^# >>> image recipe/,/^# <<< image recipe/p' "$0"
    sed -n '/^make_prefix() {/,/^}/p' "$wine_sh"; } | sha256sum | cut -c1-16
}
image=$cache/$(recipe_hash)

die() { echo "vm32.sh: $*" >&2; exit 125; }

# KVM where the processor's own virtualisation is there to use (kvm_intel or
# kvm_amd: a KVM of another kind, such as PVM in a nested machine, cannot
# start an unmodified 32-bit kernel), else the processor in software (TCG).
accel_args() {
  if [ "${TL_VM32_TCG:-0}" != 1 ] && [ -c /dev/kvm ] && [ -r /dev/kvm ] && [ -w /dev/kvm ] &&
     { [ -d /sys/module/kvm_intel ] || [ -d /sys/module/kvm_amd ]; }; then
    echo "-accel kvm -cpu host"
  else
    echo "-accel tcg,thread=multi -cpu max,-smap"
  fi
}
accel_name() { case $(accel_args) in *kvm*) echo KVM ;; *) echo TCG ;; esac; }

# Boots DIR's image and runs one job. Arguments: image folder, snapshot
# (on/off), limit, console file, share, work folder, command; the arrays
# job_prefix and job_bring name the rest.
qpid='' tpid='' ctl=''
stop_machine() {
  if [ -n "$qpid" ] && kill -0 "$qpid" 2>/dev/null; then
    kill "$qpid" 2>/dev/null || true
    for _ in 1 2 3 4 5; do kill -0 "$qpid" 2>/dev/null || break; sleep 1; done
    kill -9 "$qpid" 2>/dev/null || true
  fi
  [ -n "$tpid" ] && kill "$tpid" 2>/dev/null || true
  [ -n "$ctl" ] && rm -rf "$ctl"
  qpid='' tpid='' ctl=''
}
trap 'stop_machine; release_qemu_user' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

boot() {
  local dir=$1 snapshot=$2 limit=$3 console=$4 share=$5 work=$6 command=$7
  local guest_limit=$((limit - 120)) i d rc started
  [ $guest_limit -ge 60 ] || guest_limit=60
  ctl=$(mktemp -d "${TMPDIR:-/tmp}/vm32.XXXXXX")
  {
    printf 'share=%q work=%q limit=%q command=%q\n' "$share" "$work" "$guest_limit" "$command"
    for d in "${job_prefix[@]}"; do printf 'prefix+=(%q)\n' "$d"; done
    for d in "${job_bring[@]}"; do printf 'bring+=(%q)\n' "$d"; done
  } >"$ctl/job"
  guest_job >"$ctl/guest.sh"
  mkdir -p "$(dirname "$console")"
  local share_args=()
  [ -n "$share" ] &&
    share_args=(-virtfs "local,path=$share,mount_tag=share,security_model=none,readonly=on")
  # The machine dies with this script, however that ends.
  local reaper=()
  setpriv --help 2>/dev/null | grep -q pdeathsig && reaper=(setpriv --pdeathsig KILL)
  # shellcheck disable=SC2046
  "${reaper[@]}" qemu-system-i386 -M pc $(accel_args) -smp 2 -m 3072 -nodefaults -no-reboot \
    -display none -nic none -serial "file:$console" \
    -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=$vm_init" \
    -drive "file=$dir/root.ext4,if=virtio,format=raw,snapshot=$snapshot" \
    -virtfs "local,path=$ctl,mount_tag=ctl,security_model=none" "${share_args[@]}" \
    </dev/null >"$ctl/qemu.log" 2>&1 &
  qpid=$!
  started=$SECONDS
  # The command's output as it comes.
  tail -n +1 -F --pid=$qpid "$ctl/out" 2>/dev/null &
  tpid=$!
  while kill -0 $qpid 2>/dev/null; do
    if [ $((SECONDS - started)) -ge "$limit" ]; then
      echo "vm32.sh: the machine did not finish within $limit s; stopped it" >&2
      kill $qpid 2>/dev/null || true
      break
    fi
    # A processor KVM cannot go on with leaves qemu paused for good.
    if grep -q "internal error" "$ctl/qemu.log" 2>/dev/null; then
      echo "vm32.sh: KVM could not run the machine (TL_VM32_TCG=1 emulates it in software)" >&2
      kill $qpid 2>/dev/null || true
      break
    fi
    sleep 1
  done
  wait $qpid 2>/dev/null || true
  wait $tpid 2>/dev/null || true
  tpid=''
  if [ ! -f "$ctl/rc" ]; then
    echo "vm32.sh: the machine ended without the job's exit code; its console ($console) ends:" >&2
    tail -n 15 "$console" >&2 2>/dev/null || true
    tail -n 5 "$ctl/qemu.log" >&2 2>/dev/null || true
    stop_machine
    return 125
  fi
  rc=$(cat "$ctl/rc")
  i=0
  for d in "${job_bring[@]}"; do
    mkdir -p "$d"
    cp -r "$ctl/bring/$i/." "$d/" 2>/dev/null || true
    i=$((i + 1))
  done
  qpid=''
  stop_machine
  return "$rc"
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# mmdebstrap runs the i386 packages' scripts: natively where this machine
# runs 32-bit code, else through qemu-user, registered for the build alone.
binfmt_entry=/proc/sys/fs/binfmt_misc/qemu-i386 lent=0
release_qemu_user() {
  [ $lent = 1 ] && [ -e $binfmt_entry ] && echo -1 | $sudo tee $binfmt_entry >/dev/null
  lent=0
}
lend_qemu_user() {
  arch-test i386 >/dev/null 2>&1 && return 0
  local qemu_user=/usr/bin/qemu-i386-static
  [ -x $qemu_user ] || die "this machine runs no i386 code and has no $qemu_user (tools/setup-machine.sh installs it)"
  mountpoint -q /proc/sys/fs/binfmt_misc ||
    $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    die "binfmt_misc cannot be mounted"
  # i386 ELF executables and shared objects (the kernel reads the escapes).
  printf '%s%s:F\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:' \
    $qemu_user | $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null ||
    die "qemu-user cannot be registered for i386 programs"
  lent=1
  arch-test i386 >/dev/null 2>&1 || die "i386 programs do not run even through qemu-user"
}

build_image() {
  local part=$image.part t0 t
  mkdir -p "$cache"
  $sudo rm -rf "$part"
  mkdir -p "$part"
  echo "Building the i386 machine image in $image (once per machine; see $part/build.log)"
  t0=$SECONDS
  lend_qemu_user
  if ! $sudo mmdebstrap --variant=apt --arch=i386 --include="$vm_packages" \
        --aptopt='APT::Install-Recommends "false"' \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
        "$vm_suite" "$part/tree" "$vm_mirror" >"$part/build.log" 2>&1; then
    release_qemu_user
    tail -n 20 "$part/build.log" >&2
    die "mmdebstrap failed (log: $part/build.log)"
  fi
  release_qemu_user
  guest_init | $sudo tee "$part/tree$vm_init" >/dev/null
  $sudo chmod 755 "$part/tree$vm_init"
  $sudo cp "$(ls "$part"/tree/boot/vmlinuz-* | tail -n 1)" "$part/vmlinuz"
  $sudo cp "$(ls "$part"/tree/boot/initrd.img-* | tail -n 1)" "$part/initrd.img" ||
    die "the root has no initrd"
  t=$SECONDS; echo "  root tree: $((t - t0)) s"
  $sudo mkfs.ext4 -q -F -L tarnlink-vm32 -d "$part/tree" "$part/root.ext4" $vm_disk_size >>"$part/build.log" 2>&1 ||
    die "mkfs.ext4 failed (log: $part/build.log)"
  $sudo rm -rf "$part/tree"
  $sudo chown -R "$(id -u):$(id -g)" "$part"
  echo "  disk image: $((SECONDS - t)) s"; t=$SECONDS
  job_prefix=() job_bring=()
  boot "$part" off 1800 "$part/prepare-console.log" "$root" / "$(prepare_command)" >>"$part/build.log" 2>&1 ||
    die "the win32 prefix could not be made in the machine (console: $part/prepare-console.log, log: $part/build.log)"
  echo "  win32 prefix, made in the machine ($(accel_name)): $((SECONDS - t)) s"
  mv "$part" "$image"
  echo "Image ready in $((SECONDS - t0)) s: $image"
  # Images of earlier recipes only take room.
  for old in "$cache"/*; do
    [ "$old" = "$image" ] || [ "$old" = "$cache/lock" ] || $sudo rm -rf "$old"
  done
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
image)
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  [ -f "$image/root.ext4" ] || build_image >&2
  echo "$image"
  ;;
accel) accel_name ;;
run)
  limit=1800 console='' job_prefix=() job_bring=()
  while [ $# -gt 0 ]; do
    case $1 in
    --timeout) limit=$2; shift 2 ;;
    --console) console=$2; shift 2 ;;
    --prefix) job_prefix+=("$(cd "$2" && pwd)"); shift 2 ;;
    --bring) job_bring+=("$(mkdir -p "$2" && cd "$2" && pwd)"); shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
  done
  [ $# -gt 0 ] || die "run: no command"
  [ -f "$image/root.ext4" ] || die "no machine image at $image (run 'vm32.sh image' first)"
  console=${console:-$image/last-console.log}
  rc=0
  boot "$image" on "$limit" "$console" "$root" "$PWD" "$*" || rc=$?
  exit $rc
  ;;
*)
  echo "usage: vm32.sh image | accel | run [--timeout S] [--console FILE] [--prefix BUILD] [--bring DIR] [--] COMMAND" >&2
  exit 2 ;;
esac
