"""Two controls in two Wine processes (kelplay, our container): when the second starts playing,
the first stops within about a second and does not start again by itself."""
import os
import sys
import time

from harness import Checks, Station, WindowsProcess

KELPLAY = os.path.join("tools", "kelplay.exe")


def fill(line):
    return int(line.split()[1]) if line.startswith("ChangeBufferState ") else None


def main():
    c = Checks()
    with Station() as station:
        first = WindowsProcess(KELPLAY, station.url, "--seconds", "14")
        c.check(first.wait_for(lambda l: (fill(l) or 0) > 5, 20) is not None, "the first control plays")
        time.sleep(1)
        second = WindowsProcess(KELPLAY, station.url, "--seconds", "6")
        playing = second.wait_for(lambda l: (fill(l) or 0) > 5, 20)
        c.check(playing is not None, "the second control plays")
        # The first control's reader stops: its last report is an empty buffer.
        stopped = first.wait_for(lambda l: fill(l) == 0, 5, after=playing or 0)
        c.check(stopped is not None and stopped - playing < 2.0,
                "the first control stops within about a second of the second one's fill: %s"
                % (None if stopped is None else "%.2f s" % (stopped - playing)))
        time.sleep(2)
        c.check(stopped is not None and first.first(lambda l: (fill(l) or 0) > 0, stopped + 0.5) is None,
                "the first control stays stopped")
        c.check(second.finish() == 0 and first.finish() == 0, "both exit 0")
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
