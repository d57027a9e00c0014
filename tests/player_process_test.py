"""Players in two Wine processes: the one that started last plays; the other is told to stop
within about a second and stays stopped."""
import os
import subprocess
import sys
import threading
import time

from harness import BUILD_DIR, WINE_RUN, Checks, Station

ICYCAT = os.path.join(BUILD_DIR, "tools", "icycat.exe")


class Player:
    """icycat --play in its own process; its lines are kept with the time they arrived."""

    def __init__(self, url, seconds):
        self.lines = []
        self.proc = subprocess.Popen([WINE_RUN, ICYCAT, "--play", url, "--seconds", str(seconds)],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for raw in self.proc.stdout:
            self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").strip()))

    def first(self, text):
        return next((t for t, line in self.lines if line == text), None)

    def count(self, text):
        return sum(1 for _, line in self.lines if line == text)

    def wait_for(self, text, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end and self.first(text) is None:
            time.sleep(0.05)
        return self.first(text)

    def finish(self):
        self.proc.wait(timeout=60)
        self.reader.join(timeout=5)
        return self.proc.returncode


def main():
    c = Checks()
    with Station() as station:
        first = Player(station.url, 14)
        c.check(first.wait_for("STARTED", 20) is not None, "the first player starts")
        time.sleep(1)
        second = Player(station.url, 5)
        started = second.wait_for("STARTED", 20)
        c.check(started is not None, "the second player starts")
        stopped = first.wait_for("STOP", 5)
        c.check(stopped is not None and stopped - started < 1.5,
                "the first player is told to stop within about a second: %s"
                % (None if stopped is None else "%.2f s" % (stopped - started)))
        c.check(second.finish() == 0 and first.finish() == 0, "both exit 0")
        c.check(second.count("STOP") == 0, "the latest player is never told to stop")
        closed = [t for t, line in first.lines if line == "CLOSED"]
        c.check(bool(closed) and closed[0] >= stopped, "the first player closed its device after the stop")
        c.check(first.count("STARTED") == 1, "the first player does not restart by itself")
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
