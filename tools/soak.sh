#!/usr/bin/env bash
# Soak run (not in CI): a player plays the bundled station for a long time; memory, handles and threads must stay flat.
# Usage: tools/soak.sh [--pelradio] [minutes [drop seconds]]   (defaults 60 and 150; needs the x86_64 build)
# The station drops every connection after a few minutes of audio, so the player keeps reconnecting.
# Without --pelradio, kelplay plays a PLS list of two entries, walking it, and prints its own
# private bytes, handle count and thread count every 10 s. With --pelradio, the player itself
# runs under Xvfb on its own station and site ports, records for 45 s every ten minutes, and
# census.exe counts it from outside every 10 s; as those ports are fixed, the run has a network
# namespace of its own. The verdict comes at the end.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$TOP/build/x86_64
MODE=()
if [ "${1:-}" = --pelradio ]; then
  MODE=(--pelradio)
  shift
  if [ "${SOAK_NAMESPACE:-}" != 1 ]; then
    exec env SOAK_NAMESPACE=1 unshare --net -- "$0" --pelradio "$@"
  fi
  ip link set lo up
fi
MINUTES=${1:-60}
for file in tools/kelplay.exe tools/census.exe control/kelplayerx.ocx player/pelradio.exe; do
  if [ ! -f "$BUILD/$file" ]; then
    echo "soak: build the x86_64 target first (tools/build.sh x86_64)" >&2
    exit 2
  fi
done
# An environment of its own, so that a CTest run beside it cannot tear it down.
export TESTENV_ROOT=$BUILD/soakenv
"$TOP/tests/testenv.sh" up
trap '"$TOP/tests/testenv.sh" down' EXIT
"$TOP/tests/wine-run.sh" regsvr32 /s "$BUILD/control/kelplayerx.ocx" 2>/dev/null # Wine's ALSA probe is noisy
WINE_RUN=$TOP/tests/wine-run.sh BUILD_DIR=$BUILD SOURCE_DIR=$TOP python3 "$TOP/tools/soak.py" "${MODE[@]}" "$MINUTES" "${2:-150}"
