#!/usr/bin/env bash
# Builds the Windows Installer package of one target's build tree with msitools' wixl.
# Usage: tools/make-msi.sh x86_64|i686 BUILD_DIR VERSION TYPELIB_VERSION OUT.msi
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 bin=$2 version=$3 typelib=$4 out=$5
# Each target has components of its own: a 32-bit and a 64-bit install are different products' files.
case "$arch" in
  x86_64) vars=(-a x64 -D Win64=yes -D ProgramFilesFolder=ProgramFiles64Folder -D TypeLibPlatform=win64
                -D ProgramsGuid=0B6E1D2C-3A4F-4B5C-8D9E-0F1A2B3C4D5E -D CategoriesGuid=6A0C2B1D-7E3F-4A5B-9C8D-1E2F3A4B5C6D
                -D ShortcutGuid=1C7F2E3D-4B5A-4C6D-9E0F-1A2B3C4D5E6F) ;;
  i686) vars=(-a x86 -D Win64=no -D ProgramFilesFolder=ProgramFilesFolder -D TypeLibPlatform=win32
              -D ProgramsGuid=3D8A4F5E-6C7B-4D8E-AF01-2B3C4D5E6F70 -D CategoriesGuid=7B1D3C2E-8F4A-4B6C-AD9E-2F3A4B5C6D7E
              -D ShortcutGuid=4E9B5A6F-7D8C-4E9F-B012-3C4D5E6F7081) ;;
  *) echo "make-msi: x86_64 or i686" >&2; exit 2 ;;
esac
# The files are named relative to the build tree, where wixl looks for them.
cd "$bin"
wixl "${vars[@]}" -D Version="$version" -D TypeLibVersion="$typelib" -o "$out" "$TOP/tools/pelradio.wxs"
# wixl has no Permanent attribute: the shared categories' component gets msidbComponentAttributesPermanent
# (16) here, beside its registry key path (4) and, for x86_64, msidbComponentAttributes64bit (256).
bits64=0; [ "$arch" = x86_64 ] && bits64=256
attributes=$((16 + 4 + bits64))
msibuild "$out" -q "UPDATE \`Component\` SET \`Attributes\` = $attributes WHERE \`Component\` = 'Categories'"
