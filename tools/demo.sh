#!/usr/bin/env bash
# The main job on the built-in default: the bundled local station on 127.0.0.1:11000 (its site on
# 11001), played by pelradio, the desktop player, under Wine. With DISPLAY set, the player opens
# on that display and runs until its close box is clicked; without one, it runs on a virtual
# display for a while, and a screenshot of it is saved and its path printed. On a machine with a
# sound server it is heard; otherwise it plays into a private null sink.
# --i686 plays the 32-bit build instead, through tools/i686-root.sh (always on a virtual display
# and into the null sink there, the emulation having its own namespaces).
# Usage: tools/demo.sh [--i686] [seconds on a virtual display, default 20]
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--i686" ]; then
  shift
  "$TOP/tools/build.sh" i686 >/dev/null
  exec "$TOP/tools/i686-root.sh" run env KELPLAYERX_DEMO_TREE=i686 "$TOP/tools/demo.sh" "$@"
fi
SECONDS_TO_RUN=${1:-20}
# KELPLAYERX_DEMO_TREE: set by the --i686 run above for its second half, inside the emulation.
B="$TOP/build/${KELPLAYERX_DEMO_TREE:-x86_64}"
[ -n "${KELPLAYERX_DEMO_TREE:-}" ] || "$TOP/tools/build.sh" x86_64 >/dev/null

export TESTENV_ROOT="$B/testenv"
if command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
  export TESTENV_HOST_SOUND=1
fi
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export TESTENV_HOST_DISPLAY=1
fi
"$TOP/tests/testenv.sh" up
"$TOP/tests/wine-run.sh" regsvr32 /s "$B/control/kelplayerx.ocx"
python3 "$TOP/tools/station.py" --mp3 "$B/media/station.mp3" --port 11000 --lifetime 43200 >/dev/null &
STATION=$!
trap 'kill $STATION 2>/dev/null; "$TOP/tests/testenv.sh" down' EXIT
sleep 1

if [ -n "${TESTENV_HOST_DISPLAY:-}" ]; then
  echo "pelradio is on your display; click its close box (top left) to end."
  "$TOP/tests/wine-run.sh" "$B/player/pelradio.exe" </dev/null
  exit 0
fi

. "$TOP/tests/testenv.sh"
"$TOP/tests/wine-run.sh" "$B/player/pelradio.exe" </dev/null &
PLAYER=$!
sleep "$SECONDS_TO_RUN"
SHOT="$B/pelradio-demo.png"
WINDOW=$(xdotool search --name "Pellora Player v2" | head -n 1)
if [ -n "$WINDOW" ]; then
  import -display "$DISPLAY" -window root -crop "$(xdotool getwindowgeometry --shell "$WINDOW" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} END{printf "354x107+%d+%d", x, y}')" "$SHOT"
  echo "screenshot of the player after ${SECONDS_TO_RUN} s: $SHOT"
  # The close box, as a listener would end it.
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  xdotool mousemove $((X + 10)) $((Y + 10)) click 1
fi
wait "$PLAYER" 2>/dev/null || true
