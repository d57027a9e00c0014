#!/usr/bin/env bash
# Benchmarks, printed not asserted: the decoder's cost against bare libmad, and the CPU share
# of the whole pipeline while it plays the bundled station. Usage: tools/bench.sh [seconds]
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_PLAY=${1:-30}
"$TOP/tools/build.sh" x86_64 >/dev/null
B="$TOP/build/x86_64"
export TESTENV_ROOT="$B/testenv"
"$TOP/tests/testenv.sh" up
trap '"$TOP/tests/testenv.sh" down' EXIT

"$TOP/tests/wine-run.sh" "$B/tests/decoder_bench.exe"

python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 0 --lifetime $((SECONDS_TO_PLAY + 30)) \
  > "$TESTENV_ROOT/bench-station.port" &
STATION=$!
trap 'kill $STATION 2>/dev/null; "$TOP/tests/testenv.sh" down' EXIT
sleep 1
PORT=$(awk '$1 == "PORT" {print $2}' "$TESTENV_ROOT/bench-station.port")
"$TOP/tests/wine-run.sh" "$B/tests/pipeline_bench.exe" "http://127.0.0.1:$PORT/" "$SECONDS_TO_PLAY"
