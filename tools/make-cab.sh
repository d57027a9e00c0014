#!/usr/bin/env bash
# Builds the cabinet that pages name in their <object codebase=...>: the control and its INF, with Debian's gcab.
# Usage: tools/make-cab.sh x86_64|i686 CONTROL OUT.cab
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 control=$2 out=$(realpath -m "$3")
case "$arch" in
  x86_64) cpu=x64 ;;
  i686) cpu=x86 ;;
  *) echo "make-cab: x86_64 or i686" >&2; exit 2 ;;
esac
# The INF's FileVersion is the control's own, as a page's #version= writes it: 1,1,0,3.
version=$(python3 "$TOP/tools/pe_version.py" "$control" | tr . ,)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e "s/@CPU@/$cpu/" -e "s/@FILE_VERSION@/$version/" "$TOP/tools/kelplayerx.inf.in" | sed 's/$/\r/' > "$work/kelplayerx.inf"
cp "$control" "$work/kelplayerx.ocx"
rm -f "$out"
gcab -c -z -n "$out" "$work/kelplayerx.inf" "$work/kelplayerx.ocx"
