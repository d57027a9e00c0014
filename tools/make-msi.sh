#!/usr/bin/env bash
# Builds the Windows Installer package of one target's build tree with msitools' wixl.
# Usage: tools/make-msi.sh x86_64|i686 BUILD_DIR RELEASE TYPELIB_VERSION OUT.msi [I686_CONTROL]
# RELEASE is the four-field release (1.1.0.3); the x86_64 package also carries I686_CONTROL, the i686 kelplayerx.ocx.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 bin=$2 release=$3 typelib=$4 out=$5 control32=${6:-}

# Windows Installer compares only the first three fields of a package's version, so the release's last two
# fields share the third: release a.b.c.d is package a.b.(1000c+d), 1.1.0.3 is 1.1.3 and 1.1.2.0 is 1.1.2000.
IFS=. read -r major minor patch tweak <<< "$release"
tweak=${tweak:-0}
if [ "$patch" -gt 65 ] || [ "$tweak" -gt 999 ]; then
  echo "make-msi: release $release does not fit a package version (patch <= 65, tweak <= 999)" >&2
  exit 2
fi
package_version=$major.$minor.$((patch * 1000 + tweak))

# Each target has an upgrade code and components of its own, so that neither package removes the other (the i686
# package keeps the code both targets shared before). The i686 package's control and categories are the x86_64
# package's 32-bit ones: the same components in both.
x86_64_upgrade=3D95F682-99A5-4945-A843-5147A8EC899C i686_upgrade=5C1E3B6A-2D4F-4E8A-9B7C-1A2B3C4D5E6F
control32_guid=0CF8F823-3AAB-42DD-9E11-6F2053509867
categories32_guid=7B1D3C2E-8F4A-4B6C-AD9E-2F3A4B5C6D7E
case "$arch" in
  x86_64)
    [ -f "$control32" ] || { echo "make-msi: the x86_64 package needs the i686 kelplayerx.ocx" >&2; exit 2; }
    upgrade=$x86_64_upgrade
    vars=(-a x64 -D Win64=yes -D ProgramFilesFolder=ProgramFiles64Folder
          -D UpgradeCode=$upgrade -D ShortcutName="Pellora Player"
          -D ProgramGuid=98EE1932-C778-47F3-90F5-29C5689EAF93 -D ControlGuid=8C90B58E-C331-40F0-822A-CAEC6F763C57
          -D CategoriesGuid=6A0C2B1D-7E3F-4A5B-9C8D-1E2F3A4B5C6D -D ShortcutGuid=1C7F2E3D-4B5A-4C6D-9E0F-1A2B3C4D5E6F
          -D Control32="$(realpath --relative-to="$bin" "$control32")"
          -D Control32Guid=$control32_guid -D Categories32Guid=$categories32_guid) ;;
  i686)
    upgrade=$i686_upgrade
    vars=(-a x86 -D Win64=no -D ProgramFilesFolder=ProgramFilesFolder
          -D UpgradeCode=$upgrade -D ShortcutName="Pellora Player (32-bit)"
          -D ProgramGuid=E5D1B340-CB26-467E-AD6B-21989D8E68F3 -D ControlGuid=$control32_guid
          -D CategoriesGuid=$categories32_guid -D ShortcutGuid=4E9B5A6F-7D8C-4E9F-B012-3C4D5E6F7081) ;;
  *) echo "make-msi: x86_64 or i686" >&2; exit 2 ;;
esac
# The files are named relative to the build tree, where wixl looks for them (it takes no absolute names).
cd "$bin"
wixl "${vars[@]}" -D Release="$release" -D PackageVersion="$package_version" -D TypeLibVersion="$typelib" \
  -I "$TOP/tools" -o "$out" "$TOP/tools/pelradio.wxs"

sql() { msibuild "$out" -q "$1"; }
# wixl has no Permanent attribute: the shared categories' components get msidbComponentAttributesPermanent
# (16) here, beside their registry key path (4) and, in 64-bit components, msidbComponentAttributes64bit (256).
bits64=0; [ "$arch" = x86_64 ] && bits64=256
sql "UPDATE \`Component\` SET \`Attributes\` = $((16 + 4 + bits64)) WHERE \`Component\` = 'Categories'"
[ "$arch" = x86_64 ] && sql "UPDATE \`Component\` SET \`Attributes\` = 20 WHERE \`Component\` = 'Categories32'"
# Another build of the same release has its own product code: msidbUpgradeAttributesVersionMaxInclusive (512)
# beside MigrateFeatures (1) makes it an earlier package too, so that two builds never sit side by side.
# Attributes is part of the table's key, so the row is replaced.
sql "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
sql "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
     VALUES ('{$upgrade}', '$package_version', 513, 'WIX_UPGRADE_DETECTED')"
# wixl leaves the file table's versions empty: each file's own, from its version resource.
for id in $(msiinfo export "$out" File | tail -n +4 | cut -f1); do
  case "$id" in
    pelradio.exe) file=player/pelradio.exe ;;
    kelplayerx.ocx) file=control/kelplayerx.ocx ;;
    kelplayerx32.ocx) file=$control32 ;;
    *) echo "make-msi: no version for $id" >&2; exit 2 ;;
  esac
  version=$(python3 "$TOP/tools/pe_version.py" "$file")
  sql "UPDATE \`File\` SET \`Version\` = '$version' WHERE \`File\` = '$id'"
done
