#!/usr/bin/env bash
# Installs the packages and the libmad source that the build and the tests need (idempotent).
set -euo pipefail

PACKAGES=(
  cmake ninja-build python3 dpkg-dev patch
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine64 libwine googletest
  pulseaudio pulseaudio-utils sox lame ffmpeg icecast2 xvfb
  xdotool imagemagick fonts-nanum x11-utils clang libclang-rt-14-dev iproute2 util-linux mount openssl
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

# libmad comes from Debian's source package; only the orig tarball downloads, so check it ourselves.
LIBMAD_DIR=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build/deps"}
LIBMAD_TAR=libmad_0.15.1b.orig.tar.gz
LIBMAD_SHA=bbfac3ed6bfbc2823d3775ebb931087371e142bb0e9bb1bee51a76a6e0078690
mkdir -p "$LIBMAD_DIR"
if [ ! -f "$LIBMAD_DIR/libmad-0.15.1b/decoder.c" ]; then
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      > /etc/apt/sources.list.d/kelplayerx-src.sources
    apt-get update -qq
  fi
  if [ ! -f "$LIBMAD_DIR/$LIBMAD_TAR" ]; then
    # The .diff.gz of this package answers 404, so apt exits non-zero after the tarball arrived.
    (cd "$LIBMAD_DIR" && apt-get source --download-only -qq libmad >/dev/null 2>&1 || true)
  fi
  echo "$LIBMAD_SHA  $LIBMAD_DIR/$LIBMAD_TAR" | sha256sum -c --quiet
  tar -xzf "$LIBMAD_DIR/$LIBMAD_TAR" -C "$LIBMAD_DIR"
fi
