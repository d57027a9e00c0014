"""Reconnects that do not come off end the stream as a lost connection always has: a station that
drops and then refuses every connection ends it only once the ring has played out, with the
connection's end text, and a station that answers the reconnect with 404 ends it at once, with
its 404 text (icycat --play against a small server of this test's own)."""
import socket
import sys
import threading
import time

from harness import STATION_MP3, Checks, WindowsProcess

ICYCAT = "tools/icycat.exe"
SECONDS_BEFORE_DROP = 4.0
BURST = 65536
RATE = 16000  # bytes a second: the file's 128 kbit/s


class DroppingStation:
    """Serves one ICY stream for SECONDS_BEFORE_DROP, closes it mid-frame, then either refuses
    every connection (then="away") or answers each with 404 (then="404"). Stops by itself."""

    def __init__(self, then, lifetime=40):
        self.then = then
        self.audio = open(STATION_MP3, "rb").read()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(lifetime)
        self.url = "http://127.0.0.1:%d/" % self.listener.getsockname()[1]
        self.dropped_at = None
        self.answered_404 = 0
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        try:
            conn = self.listener.accept()[0]
        except OSError:
            return
        with conn:
            conn.recv(4096)
            conn.sendall(b"ICY 200 OK\r\nicy-name:Brief Pellora\r\ncontent-type:audio/mpeg\r\n\r\n")
            begun = time.monotonic()
            sent = 0
            # An odd piece size: the close falls inside a frame.
            while time.monotonic() - begun < SECONDS_BEFORE_DROP:
                conn.sendall(self.audio[sent:sent + 3001])
                sent += 3001
                ahead = (sent - BURST) / RATE - (time.monotonic() - begun)
                if ahead > 0:
                    time.sleep(ahead)
            self.dropped_at = time.monotonic()
        if self.then == "away":
            self.listener.close()
            return
        while True:
            try:
                conn = self.listener.accept()[0]
            except OSError:
                return
            with conn:
                conn.recv(4096)
                conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>gone</html>")
                self.answered_404 += 1

    def close(self):
        self.listener.close()


def main():
    c = Checks()

    station = DroppingStation("away")
    player = WindowsProcess(ICYCAT, "--play", station.url, "--seconds", "40")
    ended = player.wait_for(lambda line: line == "ENDED", 40)
    player.finish()
    station.close()
    lines = [line for _, line in player.lines]
    c.check(station.dropped_at is not None and ended is not None, "away: the stream ended: %r" % lines[-5:])
    if station.dropped_at is not None and ended is not None:
        after = [line for t, line in player.lines if t >= station.dropped_at]
        text = player.first(lambda line: line.startswith("MESSAGE"), station.dropped_at)
        told = [i for i, line in enumerate(after) if line.startswith("MESSAGE")]
        c.check(len(told) == 1 and after[told[0]:told[0] + 3] == ["MESSAGE 1 연결이 종료되었습니다.", "BUFFER 0", "ENDED"],
                "away: the connection's end text, then the end, as always: %r" % after[-5:])
        c.check(text is not None and text - station.dropped_at >= 1.5,
                "away: told only once the ring had played out: %.2f s after the drop"
                % ((text or station.dropped_at) - station.dropped_at))
        fills = [int(line.split()[1]) for line in after if line.startswith("BUFFER ")]
        c.check(len(fills) >= 3 and fills[:-1] == sorted(fills[:-1], reverse=True) and fills[0] > 0,
                "away: the fill reported falling meanwhile: %r" % fills)

    station = DroppingStation("404")
    player = WindowsProcess(ICYCAT, "--play", station.url, "--seconds", "20")
    ended = player.wait_for(lambda line: line == "ENDED", 20)
    player.finish()
    station.close()
    c.check(station.dropped_at is not None and ended is not None, "404: the stream ended")
    if station.dropped_at is not None and ended is not None:
        text = player.first(lambda line: line == "MESSAGE 3 청취 불가: Not Found", station.dropped_at)
        c.check(text is not None and text - station.dropped_at < 1.0 and ended >= text,
                "404: the 404 text at once, then the end: %.2f s after the drop, %r"
                % ((text or 0) - station.dropped_at, [line for t, line in player.lines if t >= station.dropped_at][-4:]))
        c.check(station.answered_404 == 1, "404: asked once: %d" % station.answered_404)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
