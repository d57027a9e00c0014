#!/usr/bin/env bash
# Fuzzes the answer parsing, the HLS lists and segment demultiplexers, the choice of decoder and
# both decoder pumps (with our patched libmad and FAAD2) natively under AddressSanitizer and
# UndefinedBehaviorSanitizer with clang's libFuzzer.
# Usage: tools/fuzz.sh [seconds]   (default 60; needs the x86_64 build for the patched sources,
#                                  or the build tree named by KEL_FUZZ_BUILD)
#        tools/fuzz.sh --crafted   the crafted frames of tests/fuzz/MadCrafted.cpp: each must trip
#                                  the release libmad and be decoded or rejected cleanly by ours
# Findings are written to build/fuzz/findings; the corpus grows in build/fuzz/corpus.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_RUN=${1:-60}
OUT=$TOP/build/fuzz
BUILD=${KEL_FUZZ_BUILD:-$TOP/build/x86_64}
MAD_SRC=$BUILD/libmad/src
MAD_INC=$BUILD/libmad/include
FAAD_SRC=$BUILD/faad2/src
MEDIA=$BUILD/media
if [ ! -f "$MAD_SRC/layer3.c" ]; then
  echo "fuzz: configure the x86_64 build first (tools/build.sh x86_64)" >&2
  exit 2
fi
"$TOP/tools/setup-deps.sh" "$TOP/build/deps" # clang with libFuzzer and the sanitizers' runtime
if [ "${1:-}" = --crafted ]; then
  exec "$TOP/tools/mad-crafted.sh" "$TOP/build/deps/libmad-0.15.1b" "$MAD_SRC" "$MAD_INC" "$MEDIA" "$OUT/crafted"
fi
mkdir -p "$OUT/obj" "$OUT/corpus" "$OUT/seeds" "$OUT/findings"
SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -g -O1"

# Rebuilt only when a source is newer than the fuzzer.
FUZZER=$OUT/kel_fuzzer
SOURCES=("$TOP/tests/fuzz/FuzzTarget.cpp" "$TOP/tests/fuzz/shim/NoWindow.cpp" "$TOP/engine/decode/Mp3Decoder.cpp" "$TOP/engine/decode/DitherConversion.cpp"
         "$TOP/engine/net/HttpAnswer.cpp" "$TOP/engine/playlist/M3uPlaylist.cpp" "$TOP/engine/net/HttpUrl.cpp"
         "$TOP/engine/decode/AacDecoder.cpp" "$TOP/engine/decode/StreamKind.cpp"
         "$TOP/engine/hls/HlsPlaylist.cpp" "$TOP/engine/hls/HlsWindow.cpp" "$TOP/engine/hls/TsDemuxer.cpp"
         "$TOP/engine/hls/PackedAudio.cpp" "$TOP/engine/hls/Fmp4Demuxer.cpp" "$TOP/engine/hls/FrameSplitter.cpp"
         "$TOP/engine/hls/Id3Tag.cpp" "$TOP/engine/frame/FrameHeader.cpp")
mapfile -t FAAD_MODULES < "$TOP/cmake/faad2-modules.txt"
stale=0
[ -x "$FUZZER" ] || stale=1
for f in "${SOURCES[@]}" "$MAD_SRC"/*.c "$FAAD_SRC"/libfaad/*.c "$TOP/tests/fuzz/shim/windows.h" "$0"; do
  [ "$f" -nt "$FUZZER" ] && stale=1
done
if [ $stale = 1 ]; then
  objs=()
  # For libmad alone, two checks are off: synth.c walks its D[17][32] window with indices below 0
  # and past 31 of a row on purpose (still inside the table), and its fixed-point arithmetic
  # wraps on hostile data by design. Memory errors are still found by AddressSanitizer.
  for m in version fixed bit timer stream frame synth decoder layer12 layer3 huffman; do
    clang -c $SAN -fno-sanitize=array-bounds,signed-integer-overflow,shift -fsanitize=fuzzer-no-link -DFPM_64BIT -DSIZEOF_INT=4 -DHAVE_ASSERT_H -DHAVE_LIMITS_H \
      -DHAVE_ERRNO_H -DNDEBUG -I"$MAD_INC" -I"$MAD_SRC" -w "$MAD_SRC/$m.c" -o "$OUT/obj/$m.o"
    objs+=("$OUT/obj/$m.o")
  done
  # FAAD2 the same way: its fixed tables and float arithmetic are its own; memory errors count.
  for m in "${FAAD_MODULES[@]}"; do
    clang -c $SAN -fno-sanitize=array-bounds,signed-integer-overflow,shift,float-cast-overflow -fsanitize=fuzzer-no-link \
      -DPACKAGE_VERSION=\"2.10.1\" -DSTDC_HEADERS=1 -DHAVE_STDINT_H=1 -DHAVE_INTTYPES_H=1 -DHAVE_STRING_H=1 \
      -DHAVE_STDLIB_H=1 -DHAVE_MEMCPY=1 -DHAVE_STRCHR=1 -DHAVE_LRINTF=1 -DNDEBUG -I"$FAAD_SRC/include" \
      -I"$FAAD_SRC/libfaad" -w "$FAAD_SRC/libfaad/$m.c" -o "$OUT/obj/faad_$m.o"
    objs+=("$OUT/obj/faad_$m.o")
  done
  clang++ -std=c++17 $SAN -fsanitize=fuzzer -Wall -Wextra -Werror -Wno-unused-parameter \
    -I"$TOP/tests/fuzz/shim" -I"$TOP" -I"$MAD_INC" -I"$FAAD_SRC/include" "${SOURCES[@]}" "${objs[@]}" -lm -o "$FUZZER"
fi

# Seeds: our answers and, as decoder input ('D' first), our MP3 files and the hostile streams' bodies.
cp "$TOP"/tests/fuzz/seeds/* "$OUT/seeds/"
for f in "$MEDIA"/*.mp3; do
  { printf 'D'; head -c 65536 "$f"; } > "$OUT/seeds/$(basename "$f")"
done
for f in "$MEDIA"/*.aac; do
  { printf 'A'; head -c 65536 "$f"; } > "$OUT/seeds/$(basename "$f")"
done
for f in "$TOP"/tests/hostile/*.icy.gz; do
  python3 -c 'import gzip,sys; a=gzip.open(sys.argv[1]).read(); sys.stdout.buffer.write(b"D"+a[a.index(b"\r\n\r\n")+4:][:200000])' \
    "$f" > "$OUT/seeds/$(basename "$f" .icy.gz)"
done

# HLS segments made from the first AAC file: a transport stream ('T') and a fragmented MP4 init
# and segment ('F', the init's length in two bytes first).
aac=$(ls "$MEDIA"/*.aac | head -n 1)
hls=$OUT/hls-seed
rm -rf "$hls" && mkdir -p "$hls"
ffmpeg -v error -y -i "$aac" -t 2 -c copy -f mpegts "$hls/a.ts"
{ printf 'T'; cat "$hls/a.ts"; } > "$OUT/seeds/segment-ts"
ffmpeg -v error -y -i "$aac" -t 2 -c copy -bsf:a aac_adtstoasc -f hls -hls_segment_type fmp4 -hls_time 1 -hls_fmp4_init_filename init.mp4 \
  -hls_segment_filename "$hls/s%d.m4s" "$hls/index.m3u8"
python3 -c 'import sys; i=open(sys.argv[1],"rb").read(); m=open(sys.argv[2],"rb").read(); sys.stdout.buffer.write(b"F"+len(i).to_bytes(2,"big")+i+m)' \
  "$hls/init.mp4" "$hls/s0.m4s" > "$OUT/seeds/segment-fmp4"

# The regression cases (findings of earlier runs) are run first, as seeds.
"$FUZZER" "$OUT/corpus" "$OUT/seeds" "$TOP/tests/fuzz/regressions" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 \
  -max_len=262144 -artifact_prefix="$OUT/findings/" -print_final_stats=1
