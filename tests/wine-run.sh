#!/usr/bin/env bash
# CTest emulator: runs a Windows test binary under wine64 in the private test environment.
# A persistent wineserver is started detached from CTest's pipes first; otherwise the
# wineserver that wine64 forks keeps the pipes open and every test waits for it.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/testenv.sh"
/usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
exec /usr/lib/wine/wine64 "$@"
