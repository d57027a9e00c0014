"""Players in two Wine processes: the one that started last plays; the other is told to stop
within about a second and stays stopped."""
import os
import sys
import time

from harness import Checks, Station, WindowsProcess

ICYCAT = os.path.join("tools", "icycat.exe")


def line(text):
    return lambda l: l == text


def main():
    c = Checks()
    with Station() as station:
        first = WindowsProcess(ICYCAT, "--play", station.url, "--seconds", "14")
        c.check(first.wait_for(line("STARTED"), 20) is not None, "the first player starts")
        time.sleep(1)
        second = WindowsProcess(ICYCAT, "--play", station.url, "--seconds", "5")
        started = second.wait_for(line("STARTED"), 20)
        c.check(started is not None, "the second player starts")
        stopped = first.wait_for(line("STOP"), 5)
        c.check(stopped is not None and stopped - started < 1.5,
                "the first player is told to stop within about a second: %s"
                % (None if stopped is None else "%.2f s" % (stopped - started)))
        c.check(second.finish() == 0 and first.finish() == 0, "both exit 0")
        c.check(second.count(line("STOP")) == 0, "the latest player is never told to stop")
        c.check(stopped is not None and first.first(line("CLOSED"), stopped) is not None,
                "the first player closed its device after the stop")
        c.check(first.count(line("STARTED")) == 1, "the first player does not restart by itself")
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
