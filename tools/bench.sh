#!/usr/bin/env bash
# Benchmarks, printed not asserted: the decoders' cost against bare libmad and FAAD2 (under Wine and built natively);
# the player against a bare wave-out loop, the platform's floor, in CPU and from launch to first sound;
# pipeline playing the bundled station, in MP3 and AAC over ICY and from an HLS station; start,
# stop and takeover latencies; memory; and native
# mpg123 playing the same station into the same null sink as the reference.
# Usage: tools/bench.sh [seconds]   (BENCH_RUNS=n sets the runs per latency figure, default 5;
# BENCH_FLOOR_ROUNDS=n the rounds of the floor beside kelplay, default 5)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_PLAY=${1:-30}
RUNS=${BENCH_RUNS:-5}
FLOOR_ROUNDS=${BENCH_FLOOR_ROUNDS:-5}
"$TOP/tools/build.sh" all >/dev/null
B="$TOP/build/x86_64"
export TESTENV_ROOT="$B/testenv"
"$TOP/tests/testenv.sh" up
# The reference player only; nothing of ours needs it.
if ! command -v mpg123 >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mpg123 >/dev/null
fi
. "$TOP/tests/testenv.sh" 2>/dev/null
OUT="$TESTENV_ROOT/bench"
mkdir -p "$OUT"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$TOP/tests/testenv.sh" down
}
trap cleanup EXIT
PROBE="$TOP/tools/bench_probe.py"

echo "load: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) on $(nproc) cores"
"$TOP/tests/wine-run.sh" "$B/tests/decoder_bench.exe" | tr -d '\r' | tee "$OUT/decoder.txt"
"$TOP/tests/wine-run.sh" "$B/tests/decoder_bench.exe" "Z:$B/media/dec_tone44.aac" | tr -d '\r' | tee "$OUT/decoder-aac.txt"
echo "--- the same benchmark built natively for Linux"
"$TOP/tools/bench-native.sh" | tee "$OUT/decoder-native.txt"
"$TOP/tools/bench-native.sh" "$B/media/dec_tone44.aac" | tee "$OUT/decoder-aac-native.txt"

LIFETIME=$((SECONDS_TO_PLAY * (5 + FLOOR_ROUNDS) + FLOOR_ROUNDS * 20 + RUNS * 70 + 160))
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 0 --lifetime $LIFETIME >"$OUT/burst.port" &
PIDS+=($!)
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 0 --burst 0 --lifetime $LIFETIME >"$OUT/paced.port" &
PIDS+=($!)
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 0 --lifetime $LIFETIME \
  --tls "$TESTENV_ROOT/certs/station" >"$OUT/tls.port" &
PIDS+=($!)
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --aac "$B/media/station.aac" --port 0 \
  --lifetime $LIFETIME >"$OUT/aac.port" &
PIDS+=($!)
python3 "$TOP/tools/station.py" --hls ts-aac --hls-media "$B/media/hls" --port 0 --lifetime $LIFETIME >"$OUT/hls.port" &
PIDS+=($!)
# A station prints its port once it listens: several starting at once on a busy machine can take
# more than a second, and an address without its port plays nothing.
port_of() {
  for _ in $(seq 150); do
    grep -q '^PORT ' "$1" && break
    sleep 0.1
  done
  awk '$1 == "PORT" {print $2}' "$1"
}
SECURE="https://127.0.0.1:$(port_of "$OUT/tls.port")/"
BURST="http://127.0.0.1:$(port_of "$OUT/burst.port")/"
PACED="http://127.0.0.1:$(port_of "$OUT/paced.port")/"
AAC="http://127.0.0.1:$(port_of "$OUT/aac.port")/"
HLS="http://127.0.0.1:$(port_of "$OUT/hls.port")/live.m3u8"

# CPU: the process measures itself and its own threads; the wineserver it needs is read from outside
# over the same stretch (it starts after connecting and 5 s of playing).
echo "--- CPU while playing the bundled station for $SECONDS_TO_PLAY s"
/usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1 || true
WINESERVER_PID=$(python3 "$PROBE" server "$WINEPREFIX" || true)
"$TOP/tests/wine-run.sh" "$B/tests/pipeline_bench.exe" "$BURST" "$SECONDS_TO_PLAY" 2>"$OUT/pipeline.err" | tr -d '\r' >"$OUT/pipeline.txt" &
BENCH=$!
sleep 7
python3 "$PROBE" cpu $((SECONDS_TO_PLAY - 3)) $WINESERVER_PID >"$OUT/wineserver.txt"
wait $BENCH
cat "$OUT/pipeline.txt"
echo "wineserver: $(awk '$2 == "total" {print $3}' "$OUT/wineserver.txt")% of one core"
echo "--- the same station over https"
"$TOP/tests/wine-run.sh" "$B/tests/pipeline_bench.exe" "$SECURE" "$SECONDS_TO_PLAY" 2>/dev/null | tr -d '\r' |
  sed 's/^RESULT /RESULT tls_/' | tee "$OUT/pipeline-tls.txt"
# The same tones in AAC, over ICY and from an HLS station (TS segments of 2 s, reloaded every
# 2 s); a build whose engine plays no HLS prints no figure for it.
echo "--- the tones in AAC over ICY, then from an HLS station"
"$TOP/tests/wine-run.sh" "$B/tests/pipeline_bench.exe" "$AAC" "$SECONDS_TO_PLAY" 2>/dev/null | tr -d '\r' |
  sed 's/^RESULT /RESULT aac_/' | tee "$OUT/pipeline-aac.txt" || true
"$TOP/tests/wine-run.sh" "$B/tests/pipeline_bench.exe" "$HLS" "$SECONDS_TO_PLAY" 2>"$OUT/pipeline-hls.err" |
  tr -d '\r' | sed 's/^RESULT /RESULT hls_/' | tee "$OUT/pipeline-hls.txt" || true
mpg123 -q -o pulse "$BURST" >/dev/null 2>&1 &
MPG=$!
sleep 5
python3 "$PROBE" cpu "$SECONDS_TO_PLAY" $MPG >"$OUT/mpg123-cpu.txt"
kill $MPG; wait $MPG 2>/dev/null || true
echo "mpg123: $(awk '$2 == "total" {print $3}' "$OUT/mpg123-cpu.txt")% of one core"

# The platform's floor: a bare wave-out loop under Wine beside kelplay playing the station, over the
# same stretch; the median of the rounds' ratios is the figure.
echo "--- the platform's floor beside kelplay, $FLOOR_ROUNDS rounds of $SECONDS_TO_PLAY s"
"$TOP/tools/bench-floor.sh" "$B" /usr/lib/wine/wine64 "$BURST" "$SECONDS_TO_PLAY" "$FLOOR_ROUNDS" "$OUT" |
  tee "$OUT/floor.txt"

echo "--- latencies and memory, $RUNS runs each"
python3 "$PROBE" onsets "$TESTENV_SINK" $((RUNS * 70 + 60)) >"$OUT/onsets.txt" 2>/dev/null &
ONSETS=$!
PIDS+=($ONSETS)
sleep 1
"$TOP/tests/wine-run.sh" "$B/tests/latency_bench.exe" "$BURST" "$PACED" "$RUNS" 2>/dev/null |
  python3 "$PROBE" tap latency_bench.exe | tee "$OUT/plays.txt"
# mpg123 from its launch: a native process starts in milliseconds.
for station in burst paced; do
  url=$BURST; [ $station = paced ] && url=$PACED
  for i in $(seq "$RUNS"); do
    echo "PLAY mpg123_$station $i $(date +%s.%N)" >>"$OUT/plays.txt"
    mpg123 -q -o pulse "$url" >/dev/null 2>&1 &
    MPG=$!
    sleep 3
    kill $MPG; wait $MPG 2>/dev/null || true
    sleep 0.8
  done
done
# From launch to first sound: the floor program, kelplay on the bursting station, pelradio on a station
# at its own address (127.0.0.1:11000), each started afresh as a listener starts it.
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --lifetime $((RUNS * 40 + 60)) >"$OUT/fixed.port" &
PIDS+=($!)
port_of "$OUT/fixed.port" >/dev/null
# Each launch meets a desktop in use: the wineserver, Wine's services, its desktop process and its RPC
# service are up (wine-run.sh starts the first two; rundll32, a program with a window, brings up the
# other two), then the program itself is dated and started. The programs take turns, so that the
# machine's drift falls on all three alike.
for i in $(seq "$RUNS"); do
  for program in floor kelplay pelradio; do
    "$TOP/tests/wine-run.sh" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1
    echo "PLAY ${program}_launch $i $(date +%s.%N)" >>"$OUT/plays.txt"
    case $program in
      floor) timeout 8 /usr/lib/wine/wine64 "$B/tests/floor_bench.exe" 3 >/dev/null 2>&1 || true ;;
      kelplay) timeout 8 /usr/lib/wine/wine64 "$B/tools/kelplay.exe" "$BURST" --seconds 3 >/dev/null 2>&1 || true ;;
      pelradio) timeout 4 /usr/lib/wine/wine64 "$B/player/pelradio.exe" >/dev/null 2>&1 || true ;;
    esac
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    sleep 1
  done
done
kill $ONSETS 2>/dev/null || true
wait $ONSETS 2>/dev/null || true
python3 "$PROBE" join "$OUT/plays.txt" "$OUT/onsets.txt" burst paced mpg123_burst mpg123_paced \
  floor_launch kelplay_launch pelradio_launch | tee "$OUT/sound.txt"

# The 32-bit build, where its programs run: under qemu-i386 on a machine that runs no 32-bit code,
# so its figures are the emulation's as much as the build's; a regression of that build alone (its
# scalar dither, its stdcall exports, its tray record) still moves them against the x86_64 ones.
echo "--- the i686 build where 32-bit programs run: the decoders, and kelplay beside the floor, $FLOOR_ROUNDS rounds of $SECONDS_TO_PLAY s"
"$TOP/tools/i686-root.sh" run "$TOP/tools/bench-emulated.sh" "$SECONDS_TO_PLAY" "$FLOOR_ROUNDS" 2>&1 |
  sed 's/^RESULT /RESULT i686_/' | tee "$OUT/i686.txt" || true

result() { grep -h "^RESULT $1 " "$OUT"/*.txt | head -1 | awk '{print $3}'; }
# A figure that a run may lack.
result_or_na() {
  local value
  value=$(result "$1" || true)
  echo "${value:-n/a}"
}
echo
echo "=== Summary (load now: $(cut -d' ' -f1-3 /proc/loadavg)), target in brackets"
echo "pump / bare libmad, median pass:              $(sed -n "s/.*CPU, \([0-9.]*\) median pass.*/\1/p" "$OUT/decoder.txt")  [at most 1.10]"
echo "the same, native Linux build:                 $(sed -n "s/.*CPU, \([0-9.]*\) median pass.*/\1/p" "$OUT/decoder-native.txt")  (reference)"
echo "our threads while playing, % of one core:     $(result own_threads_cpu_percent)  [at most 1]"
echo "whole process while playing, % of one core:   $(result process_cpu_percent)  (+ wineserver $(awk '$2 == "total" {print $3}' "$OUT/wineserver.txt"))  [clearly below 5.8]"
echo "the same over https, % of one core:           $(result tls_process_cpu_percent)  [within 0.2 of plain http]"
echo "ICY AAC station, whole process, % of one core: $(result_or_na aac_process_cpu_percent)  (our threads $(result_or_na aac_own_threads_cpu_percent))"
echo "HLS AAC station, whole process, % of one core: $(result_or_na hls_process_cpu_percent)  (our threads $(result_or_na hls_own_threads_cpu_percent))  [near the ICY AAC figure]"
echo "mpg123 while playing, % of one core:          $(awk '$2 == "total" {print $3}' "$OUT/mpg123-cpu.txt")  (reference)"
for station in burst paced; do
  echo "$station: play to first block written, ms:    $(result ${station}_first_block_ms)"
  echo "$station: play to first audible sample, ms:   $(result ${station}_first_sound_ms)  $([ $station = burst ] && echo '[at most 250]')"
  echo "$station: mpg123 launch to first sound, ms:   $(result mpg123_${station}_first_sound_ms)  (reference)"
  echo "$station: stop to device closed, ms:          $(result ${station}_stop_ms)"
done
echo "takeover: second play to first device closed, ms: $(result takeover_ms)"
echo "kelplay playing / the bare wave-out floor, CPU with wineservers: $(result floor_ratio)  [at most 1.10]"
echo "i686 ($(sed -n "s/^loader: .*, \(emulated\).*/\1/p" "$OUT/i686.txt" | head -1)): pump / bare libmad, median pass: $(sed -n "s/.*CPU, \([0-9.]*\) median pass.*/\1/p" "$OUT/i686.txt" | head -1)"
echo "i686: kelplay / the floor, CPU with wineservers: $(result_or_na i686_floor_ratio)"
for program in floor kelplay pelradio; do
  echo "$program: launch to first sound, ms:        $(result ${program}_launch_first_sound_ms)  $([ $program != floor ] && echo '[at most 150 behind the floor]')"
done
echo "private memory, one control playing, KiB:     $(result memory_one_playing_kib)"
echo "growth after $((RUNS * 2)) stations in a row, KiB:    $(result memory_growth_after_stations_kib)  [none beyond ring and blocks: 384]"
echo "heaps' bytes in use, one control playing, KiB: $(result heap_one_playing_kib)"
echo "their growth after $((RUNS * 2)) stations, KiB:        $(result heap_growth_after_stations_kib)  [none]"
