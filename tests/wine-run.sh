#!/usr/bin/env bash
# CTest emulator: runs a Windows test binary under Wine in the private test environment.
# A persistent wineserver is started detached from CTest's pipes first; otherwise the
# wineserver that Wine forks keeps the pipes open and every test waits for it.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/testenv.sh"
/usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1
# Wine's own services are 64-bit programs whatever the tree: the native loader starts them cheapest.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
exec "$TESTENV_WINE" "$@"
