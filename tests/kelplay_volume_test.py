"""The control's volume under Wine: set through kelplay, read back, and heard in the null sink."""
import os
import sys
import tempfile
import time

from audio import Capture, active_span, read_channels, rms
from harness import Checks, Station, WindowsProcess

KELPLAY = os.path.join("tools", "kelplay.exe")
SETTLE = 1.5  # seconds of queued audio at the old volume (device blocks and the sound server's own)


def steady_level(path):
    """Median RMS (both channels) of 100 ms windows over the sound heard, its first 0.2 s left
    out: a short capture gap does not pull it down."""
    rate, left, right = read_channels(path)
    start, end = active_span(left, right, threshold=50)
    start += int(rate * 0.2)
    window = rate // 10
    levels = sorted(rms(left, i, i + window) + rms(right, i, i + window) for i in range(start, end - window, window))
    return levels[len(levels) // 2] / 2 if levels else 0.0


def heard(path, seconds):
    with Capture(path):
        time.sleep(seconds)
    return steady_level(path)


def volume_reads(proc, after):
    proc.send("volume")
    when = proc.wait_for(lambda l: l.startswith("volume "), 10, after)
    lines = [l for t, l in list(proc.lines) if when is not None and t >= when and l.startswith("volume ")]
    return lines[0] if lines else None


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp, Station(lifetime=90) as station:
        proc = WindowsProcess(KELPLAY, commands=True)
        try:
            proc.send("volume 100")
            proc.send("url " + station.url)
            proc.send("play")
            c.check(proc.wait_for(lambda l: l.startswith("ChangeBufferState"), 20) is not None, "the station plays")
            c.check(volume_reads(proc, 0.0) == "volume 100", "volume reads 100")
            time.sleep(SETTLE)
            loud = heard(os.path.join(tmp, "at100.wav"), 3)

            # Changed while a device is open.
            mark = time.monotonic()
            proc.send("volume 20")
            c.check(volume_reads(proc, mark) == "volume 20", "volume 20 reads back as 20")
            time.sleep(SETTLE)
            quiet = heard(os.path.join(tmp, "at20.wav"), 3)

            # A new stream opens a new device: it must start at the kept volume.
            proc.send("stop")
            time.sleep(1)
            proc.send("play")
            time.sleep(SETTLE)
            reopened = heard(os.path.join(tmp, "reopened.wav"), 3)
            mark = time.monotonic()
            c.check(volume_reads(proc, mark) == "volume 20", "still 20 after the device was opened again")

            print("RMS at 100: %.0f, at 20: %.0f, at 20 on a reopened device: %.0f" % (loud, quiet, reopened))
            c.check(loud > 1000, "the stream is heard at 100: RMS %.0f" % loud)
            # The device scales amplitude: 20 is a fifth of full, give or take the sound server.
            for name, level in (("at 20", quiet), ("reopened at 20", reopened)):
                ratio = level / loud if loud else 1.0
                c.check(0.12 <= ratio <= 0.3, "%s the level is about a fifth of 100's: ratio %.3f" % (name, ratio))
            proc.send("quit")
            c.check(proc.finish(timeout=30) == 0, "kelplay ends on quit")
        finally:
            if proc.proc.poll() is None:
                proc.proc.kill()
                proc.proc.wait(timeout=10)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
