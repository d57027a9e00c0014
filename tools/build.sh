#!/usr/bin/env bash
# Installs what the build needs, then configures and builds both Windows targets.
# Usage: tools/build.sh [x86_64|i686|all]   (default: all)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
"$TOP/tools/setup-deps.sh" "$TOP/build/deps"

# build ARCH TESTS [cmake --build options]
build() {
  local arch=$1 tests=$2
  shift 2
  cmake -S "$TOP" -B "$TOP/build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/toolchain-$arch.cmake" -DKELPLAYERX_TESTS="$tests" \
    -DKELPLAYERX_DEPS_DIR="$TOP/build/deps" >/dev/null
  cmake --build "$TOP/build/$arch" "$@"
}

case "${1:-all}" in
  # The x86_64 package carries the i686 control too: that tree's control is built first.
  x86_64) build i686 ON --target kelplayerx; build x86_64 ON ;;
  i686) build i686 ON ;;
  all) build i686 ON; build x86_64 ON ;;
  *) echo "usage: tools/build.sh [x86_64|i686|all]" >&2; exit 2 ;;
esac
