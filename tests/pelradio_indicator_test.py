"""The connection indicator against a slow network: a station whose first bytes come in small
pieces shows CONNECTING until its data flows, then CONNECTED; stopped, it shows DISCONNECTED; a
station that drops and answers again at once stays CONNECTED throughout; one that drops and then
refuses shows CONNECTING again once the buffered audio has played out, for as long as nothing
flows; so does a player whose control another player of the desktop has stopped."""
import socket
import sys
import threading
import time

import os

from harness import STATION_MP3, Checks, WindowsProcess, wait_for
from pelradio import INDICATOR_AT, STOP_BUTTON, STREAM_PORT, Player, TestStation, center, skin_picture

TRICKLE_PIECE = 100
TRICKLE_PAUSE = 0.25
TRICKLE_SECONDS = 4.0


def listen(lifetime):
    """The player's port, listening from now on for lifetime seconds."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", STREAM_PORT))
    listener.listen(4)
    listener.settimeout(lifetime)
    return listener


def accept_once(listener):
    """The first connection, or None when none came in time; the port then refuses every other."""
    try:
        return listener.accept()[0]
    except OSError:
        return None
    finally:
        listener.close()


def slow_station(lifetime):
    """One ICY stream on the player's port: a trickle first, then the file looped at 64 KiB/s."""
    audio = open(STATION_MP3, "rb").read()
    listener = listen(lifetime)
    started = {}

    def run():
        conn = accept_once(listener)
        if conn is None:
            return
        with conn:
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                conn.recv(4096)
                conn.sendall(b"ICY 200 OK\r\nicy-name:Slow Pellora\r\n\r\n")
                started["at"] = time.monotonic()
                pos = 0
                end = time.monotonic() + lifetime
                while time.monotonic() < end:
                    trickling = time.monotonic() - started["at"] < TRICKLE_SECONDS
                    size = TRICKLE_PIECE if trickling else 8192
                    piece = (audio * 2)[pos:pos + size]
                    pos = (pos + size) % len(audio)
                    conn.sendall(piece)
                    time.sleep(TRICKLE_PAUSE if trickling else 0.125)
            except OSError:
                pass

    threading.Thread(target=run, daemon=True).start()
    return started


def dropping_station(play_seconds, lifetime):
    """One ICY stream on the player's port for play_seconds, then the connection drops and the
    port refuses every later one."""
    audio = open(STATION_MP3, "rb").read()
    listener = listen(lifetime)
    dropped = {}

    def run():
        conn = accept_once(listener)
        if conn is None:
            return
        with conn:
            try:
                conn.recv(4096)
                conn.sendall(b"ICY 200 OK\r\nicy-name:Dropping Pellora\r\n\r\n")
                end = time.monotonic() + play_seconds
                pos = 0
                while time.monotonic() < end:
                    conn.sendall((audio * 2)[pos:pos + 8192])
                    pos = (pos + 8192) % len(audio)
                    time.sleep(0.125)
            except OSError:
                pass
        dropped["at"] = time.monotonic()

    threading.Thread(target=run, daemon=True).start()
    return dropped


def main():
    c = Checks()
    pictures = {n: skin_picture(n + ".bmp") for n in ("disconnected", "connecting", "connected")}

    def shown(player):
        return [n for n, p in pictures.items() if player.shows(INDICATOR_AT[0], INDICATOR_AT[1], p)]

    started = slow_station(lifetime=40)
    player = Player()
    c.check(wait_for(lambda: "at" in started, 10), "the player asked the station for its stream")
    time.sleep(max(0.0, started.get("at", 0) + TRICKLE_SECONDS / 2 - time.monotonic()))
    c.check(shown(player) == ["connecting"], "CONNECTING while the first bytes trickle in: %r" % shown(player))
    c.check(wait_for(lambda: shown(player) == ["connected"], 10), "CONNECTED once the data flows: %r"
            % shown(player))
    player.click(*center(STOP_BUTTON))
    c.check(wait_for(lambda: shown(player) == ["disconnected"], 2), "DISCONNECTED after the stop button")
    time.sleep(3)
    c.check(shown(player) == ["disconnected"], "and it stays so: %r" % shown(player))
    player.close()

    # The station drops and answers again at once, twice: the control reconnects behind the
    # listener's back, and the indicator never leaves CONNECTED.
    with TestStation("--drop-every", "5", lifetime=60) as station:
        player = Player()
        c.check(wait_for(lambda: shown(player) == ["connected"], 15), "CONNECTED while the station plays: %r"
                % shown(player))
        seen = []
        end = time.monotonic() + 11
        while time.monotonic() < end:
            seen.append(tuple(shown(player)))
            time.sleep(0.3)
        c.check(station.opened() >= 3, "the station dropped the player twice: %d connections" % station.opened())
        c.check(set(seen) == {("connected",)}, "CONNECTED across the drops, %d screenshots: %r" % (len(seen), set(seen)))
        player.close()

    # The station drops, then refuses: CONNECTING once the buffered audio (about 9 s past the drop
    # here: 3 s sent at four times the rate) has played out, and it stays so.
    dropped = dropping_station(play_seconds=3, lifetime=60)
    player = Player()
    c.check(wait_for(lambda: shown(player) == ["connected"], 10), "CONNECTED while the station plays: %r"
            % shown(player))
    c.check(wait_for(lambda: "at" in dropped, 15), "the station dropped the stream")
    now = shown(player)
    since = time.monotonic() - dropped.get("at", 0)
    c.check(now == ["connected"] and since < 6, "still CONNECTED %.1f s after the drop: %r" % (since, now))
    c.check(wait_for(lambda: shown(player) == ["connecting"], 20),
            "CONNECTING once it has played out: %r, %.1f s after the drop"
            % (shown(player), time.monotonic() - dropped.get("at", time.monotonic())))
    lies = []
    for _ in range(8):
        time.sleep(0.5)
        if shown(player) != ["connecting"]:
            lies.append(shown(player))
    c.check(not lies, "and it stays CONNECTING while the station refuses: %r" % lies)
    player.close()

    # Another player of the desktop (kelplay, in a process of its own) takes over: the control
    # stops, and the indicator no longer shows CONNECTED.
    with TestStation(lifetime=60) as station:
        player = Player()
        c.check(wait_for(lambda: shown(player) == ["connected"], 15), "CONNECTED while pelradio plays: %r"
                % shown(player))
        other = WindowsProcess(os.path.join("tools", "kelplay.exe"), station.url, "--seconds", "8")
        c.check(wait_for(lambda: shown(player) != ["connected"], 5),
                "another player's start ends CONNECTED within seconds: %r" % shown(player))
        after = []
        for _ in range(6):
            time.sleep(0.5)
            after.append(tuple(shown(player)))
        c.check(("connected",) not in after, "and it never comes back while the other plays: %r" % after)
        other.finish()
        player.close()
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
