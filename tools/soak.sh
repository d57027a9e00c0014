#!/usr/bin/env bash
# Soak run (not in CI): the control plays the bundled station for a long time; memory, handles and threads must stay flat.
# Usage: tools/soak.sh [minutes [drop seconds]]   (defaults 60 and 150; needs the x86_64 build)
# The station hands out a PLS list of two entries and drops every connection after a few minutes
# of audio, so the control keeps reconnecting and walking the list. kelplay prints its own
# private bytes, handle count and thread count every 10 s; the verdict comes at the end.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
MINUTES=${1:-60}
BUILD=$TOP/build/x86_64
if [ ! -f "$BUILD/tools/kelplay.exe" ] || [ ! -f "$BUILD/control/kelplayerx.ocx" ]; then
  echo "soak: build the x86_64 target first (tools/build.sh x86_64)" >&2
  exit 2
fi
# An environment of its own, so that a CTest run beside it cannot tear it down.
export TESTENV_ROOT=$BUILD/soakenv
"$TOP/tests/testenv.sh" up
trap '"$TOP/tests/testenv.sh" down' EXIT
"$TOP/tests/wine-run.sh" regsvr32 /s "$BUILD/control/kelplayerx.ocx" 2>/dev/null # Wine's ALSA probe is noisy
WINE_RUN=$TOP/tests/wine-run.sh BUILD_DIR=$BUILD SOURCE_DIR=$TOP python3 "$TOP/tools/soak.py" "$MINUTES" "${2:-150}"
