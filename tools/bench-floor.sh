#!/usr/bin/env bash
# kelplay playing beside the platform's floor (a bare wave-out loop), in rounds: prints each round's
# CPU with the wineservers and "RESULT floor_ratio <median kelplay / floor>".
# Usage: tools/bench-floor.sh TREE LOADER STATION_URL SECONDS ROUNDS OUT_DIR
# Run with the test environment sourced; the floor gets a copy of the prefix and a wineserver of its
# own, so that the machine's drift, a point of a core either way between runs, falls on both alike.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
B=$1 LOADER=$2 STATION=$3 SECONDS_TO_PLAY=$4 ROUNDS=$5 OUT=$6
PROBE="$TOP/tools/bench_probe.py"
FLOOR_PREFIX="$OUT/floor-prefix"

cleanup() {
  WINEPREFIX="$FLOOR_PREFIX" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  rm -rf "$FLOOR_PREFIX"
}
trap cleanup EXIT

/usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1 || true
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1
SERVER_PID=$(python3 "$PROBE" server "$WINEPREFIX" || true)
rm -rf "$FLOOR_PREFIX"
cp -a "$WINEPREFIX" "$FLOOR_PREFIX"
WINEPREFIX="$FLOOR_PREFIX" /usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1 || true
WINEPREFIX="$FLOOR_PREFIX" /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1
FLOOR_SERVER_PID=$(python3 "$PROBE" server "$FLOOR_PREFIX" || true)
: >"$OUT/floor-rounds.txt"
for round in $(seq "$ROUNDS"); do
  WINEPREFIX="$FLOOR_PREFIX" "$LOADER" "$B/tests/floor_bench.exe" $((SECONDS_TO_PLAY + 10)) >/dev/null 2>&1 &
  FLOOR_RUN=$!
  "$TOP/tests/wine-run.sh" "$B/tools/kelplay.exe" "$STATION" --seconds $((SECONDS_TO_PLAY + 10)) >/dev/null 2>&1 &
  KELPLAY_RUN=$!
  sleep 6
  FLOOR_PID=$(python3 "$PROBE" find floor_bench.exe)
  KELPLAY_PID=$(python3 "$PROBE" find kelplay.exe)
  python3 "$PROBE" cpu "$SECONDS_TO_PLAY" "$FLOOR_PID" "$FLOOR_SERVER_PID" "$KELPLAY_PID" "$SERVER_PID" |
    awk '$1 == "CPU" && $2 != "total" {v[++n] = $3}
         END {f = v[1] + v[2]; k = v[3] + v[4];
              printf "floor %.2f + %.2f = %.2f, kelplay %.2f + %.2f = %.2f, ratio %.3f\n", v[1], v[2], f, v[3], v[4], k, k / f}' |
    tee -a "$OUT/floor-rounds.txt"
  wait $FLOOR_RUN $KELPLAY_RUN || true
done
echo "RESULT floor_ratio $(awk '{print $NF}' "$OUT/floor-rounds.txt" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')"
