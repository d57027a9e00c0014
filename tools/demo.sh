#!/usr/bin/env bash
# The main job on the built-in default: the bundled local station on port 11000, listened to
# with icycat for a while (its reports, one a line). Usage: tools/demo.sh [seconds]
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_RUN=${1:-20}
"$TOP/tools/build.sh" x86_64 >/dev/null

export TESTENV_ROOT="$TOP/build/x86_64/testenv"
"$TOP/tests/testenv.sh" up
python3 "$TOP/tools/station.py" --mp3 "$TOP/build/x86_64/media/station.mp3" --port 11000 \
  --lifetime $((SECONDS_TO_RUN + 30)) >/dev/null &
STATION=$!
trap 'kill $STATION 2>/dev/null; "$TOP/tests/testenv.sh" down' EXIT
sleep 1
"$TOP/tests/wine-run.sh" "$TOP/build/x86_64/tools/icycat.exe" http://127.0.0.1:11000/ --seconds "$SECONDS_TO_RUN"
