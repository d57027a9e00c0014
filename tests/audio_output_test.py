"""The wave-out output into the PulseAudio null sink: a tone comes out at its frequencies,
on the right channels, for its whole length and without gaps."""
import os
import sys
import tempfile

from audio import Capture, active_span, frequency, longest_gap, read_channels, sounding_seconds
from harness import Checks, Station, run_windows


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "tone.wav")
        with Capture(path):
            code, lines = run_windows(os.path.join("tests", "tone_out.exe"), "44100", "1000", "1500", "3000")
        c.check(code == 0, "tone_out played: %r" % lines)
        rate, left, right = read_channels(path)
        start, end = active_span(left, right)
        # Every block came out once: none lost, none repeated (a late refill only adds silence).
        seconds = sounding_seconds(left, right, start, end, rate)
        c.check(2.95 <= seconds <= 3.05, "the tone sounds for its 3 s: %.3f s over a span of %.3f s"
                % (seconds, (end - start) / rate))
        fl = frequency(left, start, end, rate)
        fr = frequency(right, start, end, rate)
        c.check(abs(fl - 1000) < 10, "left channel at 1000 Hz: %.1f" % fl)
        c.check(abs(fr - 1500) < 15, "right channel at 1500 Hz: %.1f" % fr)
        gap = longest_gap(left, right, start, end, rate)
        c.real_time(gap < 0.1, "no gap beyond 100 ms: longest %.3f s" % gap)

        # The whole road: the bundled station (440 Hz left, 660 Hz right) decoded and played.
        path = os.path.join(tmp, "station.wav")
        with Station() as station, Capture(path):
            code, lines = run_windows(os.path.join("tools", "icycat.exe"), "--play", station.url, "--seconds", "6")
        c.check("STARTED" in lines, "the station started playing")
        rate, left, right = read_channels(path)
        start, end = active_span(left, right)
        seconds = (end - start) / rate
        c.check(seconds >= 4.0, "the station was heard for most of the run: %.2f s" % seconds)
        fl = frequency(left, start, end, rate)
        fr = frequency(right, start, end, rate)
        c.check(abs(fl - 440) < 5, "decoded left channel at 440 Hz: %.1f" % fl)
        c.check(abs(fr - 660) < 7, "decoded right channel at 660 Hz: %.1f" % fr)
        gap = longest_gap(left, right, start, end, rate)
        c.real_time(gap < 0.1, "no gap beyond 100 ms while playing: longest %.3f s" % gap)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
