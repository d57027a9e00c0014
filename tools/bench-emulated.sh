#!/usr/bin/env bash
# The i686 tree's figures where 32-bit programs run (inside tools/i686-root.sh, under emulation here):
# the MP3 pump against bare libmad, and kelplay beside the floor program, both under the same loader.
# Usage: tools/bench-emulated.sh SECONDS ROUNDS
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_PLAY=$1 ROUNDS=$2
B="$TOP/build/i686"
export TESTENV_ROOT="$B/testenv"
"$TOP/tests/testenv.sh" up
. "$TOP/tests/testenv.sh" 2>/dev/null
OUT="$TESTENV_ROOT/bench"
mkdir -p "$OUT"
# The namespace's loopback is its own: the station's usual port is free.
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 11000 \
  --lifetime $((ROUNDS * (SECONDS_TO_PLAY + 20) + 120)) >/dev/null &
STATION=$!
trap 'kill $STATION 2>/dev/null; "$TOP/tests/testenv.sh" down' EXIT
echo "loader: $TESTENV_WINE${KELPLAYERX_EMULATED:+, emulated: every instruction through qemu-i386}"
"$TOP/tests/wine-run.sh" "$B/tests/decoder_bench.exe" | tr -d '\r'
"$TOP/tools/bench-floor.sh" "$B" "$TESTENV_WINE" "http://127.0.0.1:11000/" "$SECONDS_TO_PLAY" "$ROUNDS" "$OUT"
