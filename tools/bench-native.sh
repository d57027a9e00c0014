#!/usr/bin/env bash
# decoder_bench built natively for Linux with the same optimisation as the Windows build, for
# reference beside the figures taken under Wine.
# Usage: tools/bench-native.sh [file.mp3] [passes]   (needs the x86_64 build: patched libmad, media)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
MAD_SRC=$TOP/build/x86_64/libmad/src
MAD_INC=$TOP/build/x86_64/libmad/include
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
g++ -std=c++17 $OPT -Wall -Wextra -Werror -Wno-unused-parameter -DKEL_MEDIA_DIR="\"$TOP/build/x86_64/media/\"" \
  -I"$TOP/tests/fuzz/shim" -I"$TOP/engine" -I"$TOP/tests" -I"$MAD_INC" \
  "$TOP/tests/DecoderBench.cpp" "$TOP/tests/MemoryStream.cpp" "$TOP/tests/PlainDecode.cpp" "$TOP/tests/fuzz/shim/NoNetwork.cpp" \
  "$TOP/engine/Mp3Decoder.cpp" "$TOP/engine/DitherConversion.cpp" "$TOP/engine/AudioDecoder.cpp" \
  "${objs[@]}" -o "$OUT/decoder_bench"
exec "$OUT/decoder_bench" "$@"
