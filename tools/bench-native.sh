#!/usr/bin/env bash
# decoder_bench built natively for Linux with the same optimisation as the Windows build, for
# reference beside the figures taken under Wine.
# Usage: tools/bench-native.sh [file.mp3|file.aac] [passes]   (needs the x86_64 build: patched
#        libmad and FAAD2, media)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${KEL_BENCH_BUILD:-$TOP/build/x86_64}
MAD_SRC=$BUILD/libmad/src
MAD_INC=$BUILD/libmad/include
FAAD_SRC=$BUILD/faad2/src
OUT=$TOP/build/native-bench
if [ ! -f "$MAD_SRC/layer3.c" ]; then
  echo "bench-native: configure the x86_64 build first (tools/build.sh x86_64)" >&2
  exit 2
fi
mkdir -p "$OUT/obj"
OPT="-O3 -DNDEBUG"
objs=()
for m in version fixed bit timer stream frame synth decoder layer12 layer3 huffman; do
  gcc -c $OPT -DFPM_64BIT -DSIZEOF_INT=4 -DHAVE_ASSERT_H -DHAVE_LIMITS_H -DHAVE_ERRNO_H -I"$MAD_INC" -I"$MAD_SRC" -w \
    "$MAD_SRC/$m.c" -o "$OUT/obj/$m.o"
  objs+=("$OUT/obj/$m.o")
done
mapfile -t FAAD_MODULES < "$TOP/cmake/faad2-modules.txt"
for m in "${FAAD_MODULES[@]}"; do
  gcc -c $OPT -DPACKAGE_VERSION=\"2.10.1\" -DSTDC_HEADERS=1 -DHAVE_STDINT_H=1 -DHAVE_INTTYPES_H=1 -DHAVE_STRING_H=1 \
    -DHAVE_STDLIB_H=1 -DHAVE_MEMCPY=1 -DHAVE_STRCHR=1 -DHAVE_LRINTF=1 -I"$FAAD_SRC/include" -I"$FAAD_SRC/libfaad" -w \
    "$FAAD_SRC/libfaad/$m.c" -o "$OUT/obj/faad_$m.o"
  objs+=("$OUT/obj/faad_$m.o")
done
g++ -std=c++17 $OPT -Wall -Wextra -Werror -Wno-unused-parameter -DKEL_MEDIA_DIR="\"$BUILD/media/\"" \
  -I"$TOP/tests/fuzz/shim" -I"$TOP" -I"$TOP/tests" -I"$MAD_INC" -I"$FAAD_SRC/include" \
  "$TOP/tests/DecoderBench.cpp" "$TOP/tests/MemoryStream.cpp" "$TOP/tests/PlainDecode.cpp" "$TOP/tests/fuzz/shim/NoWindow.cpp" \
  "$TOP/engine/decode/Mp3Decoder.cpp" "$TOP/engine/decode/DitherConversion.cpp" \
  "$TOP/engine/decode/AacDecoder.cpp" "$TOP/engine/decode/StreamKind.cpp" "$TOP/engine/frame/FrameHeader.cpp" "${objs[@]}" -lm -o "$OUT/decoder_bench"
exec "$OUT/decoder_bench" "$@"
