#!/usr/bin/env bash
# Runs a command where 32-bit Windows programs run: natively, or in a cached Debian root under qemu-i386.
# Usage: tools/i686-root.sh prepare | run [--bind DIR]... COMMAND...
# The root lives in KELPLAYERX_I686_ROOT (default /var/cache/kelplayerx/i686-root), outside any clone,
# and is made again only when the package list below changes. Emulation needs a kernel >= 6.7
# (binfmt_misc in a user namespace); nothing is registered for the rest of the machine.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
ROOT=${KELPLAYERX_I686_ROOT:-/var/cache/kelplayerx/i686-root}

# What the tests run inside the root: Wine's 32-bit loader and the peers, sound and display they use.
PACKAGES=(
  wine wine64 wine32:i386 libwine cmake python3 procps
  pulseaudio pulseaudio-utils sox lame ffmpeg icecast2 xvfb xdotool imagemagick fonts-nanum x11-utils
  iproute2 util-linux mount openssl msitools wixl gcab osslsigncode
)
# Bookworm's qemu 7.2 spends 60-100 s of CPU on Wine's address-space reservation at each start.
BACKPORTS=(qemu-user)
STAMP="$ROOT/.kelplayerx-stamp"

# A 32-bit x86 ELF executable or shared object (e_ident class 1, e_machine 3).
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

mirror() {
  # The machine's own Debian mirror, so the root reaches exactly what apt here reaches.
  local uri
  uri=$(grep -hsE '^URIs:.*/debian/?$' /etc/apt/sources.list.d/*.sources | head -n1 | awk '{print $2}')
  [ -n "$uri" ] || uri=$(grep -hsE '^deb .*/debian/? ' /etc/apt/sources.list | head -n1 | awk '{print $2}')
  echo "${uri:?no Debian mirror in the apt sources}"
}

prepare() {
  # The packages and the making itself: a change to either makes the root again.
  local want
  want=$({ printf '%s\n' "${PACKAGES[@]}" "backports:" "${BACKPORTS[@]}"; declare -f prepare; } | sha256sum | cut -d' ' -f1)
  [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$want" ] && return 0
  echo "i686-root: making $ROOT (a few minutes)"
  command -v debootstrap >/dev/null || { apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }
  local m
  m=$(mirror)
  rm -rf "$ROOT.new"
  mkdir -p "$(dirname "$ROOT")"
  debootstrap --variant=minbase bookworm "$ROOT.new" "$m" >"$ROOT.new.log" 2>&1 || { tail -n 20 "$ROOT.new.log" >&2; exit 1; }
  cat > "$ROOT.new/etc/apt/sources.list" <<EOF
deb $m bookworm main
deb $m bookworm-updates main
deb ${m%/debian*}/debian-security bookworm-security main
deb $m bookworm-backports main
EOF
  cp /etc/resolv.conf "$ROOT.new/etc/resolv.conf"
  # A minimal root has no hosts file, and the tests look up "localhost".
  echo '127.0.0.1 localhost' > "$ROOT.new/etc/hosts"
  # Maintainer scripts want /proc and /dev; a mount namespace of its own takes them away afterwards.
  unshare --mount --propagation private /bin/sh -ec 'mount -t proc proc "$0/proc"; mount --rbind /dev "$0/dev"; exec chroot "$@"' \
    "$ROOT.new" "$ROOT.new" /bin/sh -ec "
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends ${PACKAGES[*]} >/dev/null
    apt-get install -y -qq --no-install-recommends -t bookworm-backports ${BACKPORTS[*]} >/dev/null
    apt-get clean" </dev/null
  echo "$want" > "$ROOT.new/.kelplayerx-stamp"
  rm -rf "$ROOT"
  mv "$ROOT.new" "$ROOT"
  rm -f "$ROOT.new.log"
}

# True when this machine executes 32-bit x86 code itself (the root's own i386 loader as the probe).
native32() {
  "$ROOT/usr/lib/i386-linux-gnu/ld-linux.so.2" --version >/dev/null 2>&1
}

run() {
  local binds=("$TOP")
  while [ "${1:-}" = "--bind" ]; do binds+=("$2"); shift 2; done
  prepare
  local qemu="" sync
  native32 || qemu="$ROOT/usr/bin/qemu-i386"
  sync=$(mktemp -u /tmp/i686-root.XXXXXX)
  mkfifo "$sync"
  # Own user, mount, network and process namespaces: the binfmt entry, the mounts and every process
  # started inside go away with the command; the tests get a loopback of their own. The namespace's
  # first program waits until its ids are mapped (ids 0-65535 as themselves, icecast2's "nobody"
  # among them), so that the next program it starts has root's powers inside.
  unshare --user --mount --net --pid --fork --kill-child --propagation unchanged \
    /bin/sh -c 'read -r _ <"$0"; exec "$@"' "$sync" "$0" inside "$qemu" "$PWD" "${#binds[@]}" "${binds[@]}" "$@" &
  local pid=$!
  while [ "$(readlink "/proc/$pid/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do sleep 0.05; done
  echo '0 0 65536' > "/proc/$pid/uid_map"
  echo '0 0 65536' > "/proc/$pid/gid_map"
  echo go > "$sync"
  rm -f "$sync"
  wait "$pid"
}

# In the namespaces: the binfmt entry, the root's mounts and the bound trees, then the command.
inside() {
  local qemu=$1 cwd=$2 nb=$3
  shift 3
  local binds=("${@:1:$nb}")
  shift "$nb"
  if [ -n "$qemu" ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    # F: the interpreter is opened now, from this side of the chroot.
    printf ':kelplayerx-i386:M::%s:%s:%s:F' "$I386_MAGIC" "$I386_MASK" "$qemu" > /proc/sys/fs/binfmt_misc/register
    # Tests whose limits are real time take the emulation's measured factor where they read this.
    export KELPLAYERX_EMULATED=qemu-i386
  fi
  ip link set lo up
  mount --make-rprivate /
  # The root a mount of its own, so that namespaces made inside (the name tests') can make "/" private.
  mount --bind "$ROOT" "$ROOT"
  mount -t proc proc "$ROOT/proc"
  mount --rbind /sys "$ROOT/sys"
  mount --rbind /dev "$ROOT/dev"
  mount -t tmpfs tmpfs "$ROOT/dev/shm"
  mount -t tmpfs tmpfs "$ROOT/tmp"
  mount -t tmpfs tmpfs "$ROOT/run"
  local d
  for d in "${binds[@]}"; do
    mkdir -p "$ROOT$d"
    mount --rbind "$d" "$ROOT$d"
  done
  exec chroot "$ROOT" /usr/bin/env -C "$cwd" "$@"
}

case "${1:-}" in
  prepare) prepare ;;
  run) shift; run "$@" ;;
  inside) shift; inside "$@" ;;
  *) echo "usage: tools/i686-root.sh prepare | run [--bind DIR]... COMMAND..." >&2; exit 2 ;;
esac
