"""The wave-out output into the PulseAudio null sink: a tone comes out at its frequencies,
on the right channels, for its whole length and without gaps."""
import os
import sys
import tempfile

from audio import Capture, active_span, frequency, longest_gap, read_channels
from harness import Checks, run_windows


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "tone.wav")
        with Capture(path):
            code, lines = run_windows(os.path.join("tests", "tone_out.exe"), "44100", "1000", "1500", "3000")
        c.check(code == 0, "tone_out played: %r" % lines)
        rate, left, right = read_channels(path)
        start, end = active_span(left, right)
        seconds = (end - start) / rate
        c.check(2.85 <= seconds <= 3.3, "the tone lasts its 3 s: %.3f s" % seconds)
        fl = frequency(left, start, end, rate)
        fr = frequency(right, start, end, rate)
        c.check(abs(fl - 1000) < 10, "left channel at 1000 Hz: %.1f" % fl)
        c.check(abs(fr - 1500) < 15, "right channel at 1500 Hz: %.1f" % fr)
        gap = longest_gap(left, right, start, end, rate)
        c.check(gap < 0.1, "no gap beyond 100 ms: longest %.3f s" % gap)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
