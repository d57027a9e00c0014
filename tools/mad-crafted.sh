#!/usr/bin/env bash
# Builds tests/fuzz/MadCrafted.cpp under AddressSanitizer against the release libmad and ours, and checks both.
# Usage (through tools/fuzz.sh --crafted): mad-crafted.sh <release src> <our src> <mad.h dir> <media dir> <out dir>
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
RELEASE=$1 OURS=$2 MAD_INC=$3 MEDIA=$4 OUT=$5
SAN="-fsanitize=address -g -O1"

# build <name> <libmad source> <extra flags>: rebuilt only when a source is newer than the driver.
build() {
  local name=$1 src=$2 extra=$3 dir=$OUT/$1 stale=0 objs=()
  mkdir -p "$dir"
  [ -x "$dir/mad_crafted" ] || stale=1
  for f in "$src"/*.c "$TOP/tests/fuzz/MadCrafted.cpp" "$0"; do
    [ "$f" -nt "$dir/mad_crafted" ] && stale=1
  done
  [ $stale = 1 ] || return 0
  for m in version fixed bit timer stream frame synth decoder layer12 layer3 huffman; do
    clang -c $SAN -DFPM_64BIT -DSIZEOF_INT=4 -DHAVE_ASSERT_H -DHAVE_LIMITS_H -DHAVE_ERRNO_H $extra \
      -I"$MAD_INC" -I"$src" -w "$src/$m.c" -o "$dir/$m.o"
    objs+=("$dir/$m.o")
  done
  clang++ -std=c++17 $SAN -Wall -Wextra -Werror -I"$MAD_INC" "$TOP/tests/fuzz/MadCrafted.cpp" "${objs[@]}" \
    -o "$dir/mad_crafted"
}
build ours "$OURS" -DNDEBUG
build release "$RELEASE" -DNDEBUG        # as shipped builds have it: the assert is gone
build release-assert "$RELEASE" ""       # the same with its asserts

fail=0
for c in $("$OUT/ours/mad_crafted" --list); do
  if "$OUT/ours/mad_crafted" "$c" > "$OUT/$c.ours" 2>&1; then
    echo "ours    $c: $(tail -n 1 "$OUT/$c.ours" | sed 's/^[^:]*: //')"
  else
    echo "ours    $c: FAILED"; cat "$OUT/$c.ours"; fail=1
  fi
  # A case the release decodes without a memory error no longer shows anything.
  if "$OUT/release/mad_crafted" "$c" > "$OUT/$c.release" 2>&1; then
    echo "release $c: no error (the case shows nothing)"; fail=1
  else
    echo "release $c: $(grep -m1 -o 'AddressSanitizer: [a-z-]*' "$OUT/$c.release")" \
      "$(grep -m1 -oE ' in (mad|I|II|III)_[a-zA-Z_]* [^ ]*' "$OUT/$c.release" | sed 's|/[^ ]*/||')"
  fi
done
# (through sh, whose report of the abort goes to the file too)
if sh -c '"$0" reservoir-overflow' "$OUT/release-assert/mad_crafted" > "$OUT/assert.release" 2>&1 \
   || ! grep -q 'Assertion .* failed' "$OUT/assert.release"; then
  echo "release with asserts: reservoir-overflow passes its assert"; fail=1
else
  echo "release with asserts, reservoir-overflow: $(grep -o 'Assertion .* failed' "$OUT/assert.release")"
fi
# Our bounds reject nothing that the release decodes: the same frames and samples from every file of ours.
for f in "$MEDIA"/*.mp3; do
  a=$("$OUT/ours/mad_crafted" --file "$f") b=$("$OUT/release/mad_crafted" --file "$f")
  if [ "$a" != "$b" ]; then echo "$(basename "$f"): ours $a, release $b"; fail=1; fi
done
[ $fail = 0 ] && echo "crafted: all cases rejected cleanly by ours, each trips the release"
exit $fail
