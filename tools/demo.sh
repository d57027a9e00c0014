#!/usr/bin/env bash
# The main job on the built-in default: the bundled local station on 127.0.0.1:11000, played by
# the kelplayerx control in kelplay (our console container) for a while, printing its events
# one a line. On a machine with a sound server it is heard; otherwise it plays into a private
# null sink. Usage: tools/demo.sh [seconds]
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_RUN=${1:-20}
B="$TOP/build/x86_64"
"$TOP/tools/build.sh" x86_64 >/dev/null

export TESTENV_ROOT="$B/testenv"
if command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
  export TESTENV_HOST_SOUND=1
fi
"$TOP/tests/testenv.sh" up
"$TOP/tests/wine-run.sh" regsvr32 /s "$B/control/kelplayerx.ocx"
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 11000 \
  --lifetime $((SECONDS_TO_RUN + 30)) >/dev/null &
STATION=$!
trap 'kill $STATION 2>/dev/null; "$TOP/tests/testenv.sh" down' EXIT
sleep 1
"$TOP/tests/wine-run.sh" "$B/tools/kelplay.exe" http://127.0.0.1:11000/ --seconds "$SECONDS_TO_RUN" </dev/null
