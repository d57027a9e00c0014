#!/usr/bin/env bash
# Installs the packages and the libmad source that the build and the tests need (idempotent).
set -euo pipefail

PACKAGES=(
  cmake ninja-build python3 dpkg-dev patch
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine64 libwine googletest
  pulseaudio pulseaudio-utils sox lame ffmpeg icecast2 xvfb
  xdotool imagemagick fonts-nanum x11-utils clang libclang-rt-14-dev iproute2 util-linux mount openssl
  msitools wixl gcab osslsigncode debootstrap
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# libmad and FAAD2 come from Debian's source packages; only their orig tarballs are used, checked here.
DEPS_DIR=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build/deps"}
mkdir -p "$DEPS_DIR"

# fetch_source PACKAGE TARBALL SHA256 MARKER: unpacks TARBALL into DEPS_DIR unless MARKER is there.
fetch_source() {
  local package=$1 tarball=$2 sha=$3 marker=$4
  [ -f "$DEPS_DIR/$marker" ] && return 0
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      > /etc/apt/sources.list.d/kelplayerx-src.sources
    apt-get update -qq
  fi
  if [ ! -f "$DEPS_DIR/$tarball" ]; then
    # libmad's .diff.gz answers 404, so apt exits non-zero after the tarball arrived.
    (cd "$DEPS_DIR" && apt-get source --download-only -qq "$package" >/dev/null 2>&1 || true)
  fi
  echo "$sha  $DEPS_DIR/$tarball" | sha256sum -c --quiet
  tar -xzf "$DEPS_DIR/$tarball" -C "$DEPS_DIR"
}

fetch_source libmad libmad_0.15.1b.orig.tar.gz \
  bbfac3ed6bfbc2823d3775ebb931087371e142bb0e9bb1bee51a76a6e0078690 libmad-0.15.1b/decoder.c
fetch_source faad2 faad2_2.10.1.orig.tar.gz \
  4c16c71295ca0cbf7c3dfe98eb11d8fa8d0ac3042e41604cfd6cc11a408cf264 faad2-2.10.1/libfaad/decoder.c
