#!/usr/bin/env bash
# Private test environment under the build tree: Wine prefix, PulseAudio null sink, X display.
# Usage: testenv.sh up|down|run <command...>, or source it for the environment alone;
# TESTENV_ROOT names the directory.
set -u
ROOT=${TESTENV_ROOT:?TESTENV_ROOT must name the test environment directory}
# Each environment gets its own display number, so that several build trees can test at once.
DISPLAY_NUM=${TESTENV_DISPLAY:-$(( $(printf '%s' "$ROOT" | cksum | cut -d' ' -f1) % 400 + 100 ))}
HERE_TESTENV=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The build tree names its programs' loader (the 32-bit one for i686); the prefix itself is 64-bit
# either way. TESTENV_LOADER, set by the caller for one command, chooses another (a 64-bit probe of a
# 64-bit process); it is not exported from here, so another tree's environment never inherits it.
WINE=${TESTENV_LOADER:-$(cat "$ROOT/../wine-loader" 2>/dev/null || echo /usr/lib/wine/wine64)}
export TESTENV_WINE=$WINE
WINESERVER=/usr/lib/wine/wineserver64
NANUM=/usr/share/fonts/truetype/nanum/NanumGothic.ttf

# TESTENV_WINEPREFIX: another prefix for the same environment (name_namespace.py's overlay of it).
export WINEPREFIX="${TESTENV_WINEPREFIX:-$ROOT/wineprefix}"
export WINEDEBUG=-all
# No desktop menu entries on the host for shortcuts that installers make.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# TESTENV_HOST_SOUND=1 (the demo on a machine with sound) keeps the caller's own sound server.
if [ -z "${TESTENV_HOST_SOUND:-}" ]; then
  export HOME="$ROOT/home"
  export XDG_RUNTIME_DIR="$ROOT/runtime"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
fi
# A process that must find no sound server at all.
[ -n "${TESTENV_NO_SOUND:-}" ] && export PULSE_SERVER="unix:$ROOT/no-such-server"
# TESTENV_HOST_DISPLAY=1 (the demo on a desktop) keeps the caller's own X display.
[ -z "${TESTENV_HOST_DISPLAY:-}" ] && export DISPLAY=":$DISPLAY_NUM"
{ export LC_ALL=${TESTENV_LOCALE:-ko_KR.UTF-8}; } 2>/dev/null # not generated here; Wine takes code page 949 from the name
export TESTENV_SINK=kelnull

up() {
  mkdir -p "$ROOT/home" "$ROOT/runtime"
  chmod 700 "$ROOT/runtime"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
  fi
  # Under the Korean locale every glyph draws as a box without a Korean font in the prefix.
  if [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/NanumGothic.ttf" ] && [ -f "$NANUM" ]; then
    cp "$NANUM" "$WINEPREFIX/drive_c/windows/Fonts/"
    for face in Gulim Dotum Batang System "MS Shell Dlg" Tahoma 굴림 돋움; do
      /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d NanumGothic /f </dev/null >/dev/null 2>&1
    done
    "$WINESERVER" -w
  fi
  # The https station's certificates; their authority is trusted by this prefix alone.
  local trust="$ROOT/../tests/trust_root.exe"
  # Certificates added later are made under the authority already trusted.
  "$HERE_TESTENV/../tools/make-test-certs.sh" "$ROOT/certs"
  if [ ! -f "$ROOT/certs/trusted" ] && [ -f "$trust" ]; then
    "$WINE" "$trust" "Z:$ROOT/certs/ca.der" </dev/null >/dev/null 2>&1 && touch "$ROOT/certs/trusted"
  fi
  if [ -z "${TESTENV_HOST_SOUND:-}" ] && ! pulseaudio --check 2>/dev/null; then
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit --enable-memfd=no \
      -L "module-null-sink sink_name=$TESTENV_SINK rate=44100 channels=2" \
      -L module-native-protocol-unix --log-target="file:$ROOT/pulse.log" </dev/null >/dev/null 2>&1
  fi
  # A display whose server died (the machine restarted under /tmp) leaves its lock and socket behind.
  local lock="/tmp/.X$DISPLAY_NUM-lock"
  if [ -f "$lock" ] && ! kill -0 "$(tr -d ' ' < "$lock")" 2>/dev/null; then
    rm -f "$lock" "/tmp/.X11-unix/X$DISPLAY_NUM"
  fi
  if [ -z "${TESTENV_HOST_DISPLAY:-}" ] && [ ! -e "/tmp/.X11-unix/X$DISPLAY_NUM" ]; then
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! > "$ROOT/xvfb.pid"
  fi
  # One reader on the monitor from the start, so that later captures do not lose their start.
  if [ -z "${TESTENV_HOST_SOUND:-}" ] && { [ ! -f "$ROOT/monitor.pid" ] || ! kill -0 "$(cat "$ROOT/monitor.pid")" 2>/dev/null; }; then
    parec -d "$TESTENV_SINK.monitor" --latency-msec=10 --raw </dev/null >/dev/null 2>&1 &
    echo $! > "$ROOT/monitor.pid"
  fi
  return 0
}

down() {
  # Wine first: its processes hold the X display and the sound server.
  "$WINESERVER" -k 2>/dev/null
  for f in monitor xvfb; do
    [ -f "$ROOT/$f.pid" ] && kill "$(cat "$ROOT/$f.pid")" 2>/dev/null
    rm -f "$ROOT/$f.pid"
  done
  [ -z "${TESTENV_HOST_SOUND:-}" ] && pulseaudio --kill 2>/dev/null
  return 0
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0
case "${1:-}" in
  up) up ;;
  down) down ;;
  run) shift; exec "$@" ;;
  *) echo "usage: testenv.sh up|down|run <command...>" >&2; exit 2 ;;
esac
