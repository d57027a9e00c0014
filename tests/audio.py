"""Capturing what the device played (the null sink's monitor) and measuring it."""
import math
import os
import struct
import subprocess
import time
import wave

SINK = "kelnull"


class Capture:
    """Records the null sink's monitor into a WAV file for the duration of a with-block."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        self.proc = subprocess.Popen(
            ["parecord", "--device=%s.monitor" % SINK, "--latency-msec=20", "--rate=44100", "--channels=2",
             "--format=s16le", "--file-format=wav", self.path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=pulse_env())
        time.sleep(0.5)
        return self

    def __exit__(self, *exc):
        time.sleep(0.3)
        self.proc.terminate()
        self.proc.wait(timeout=10)


def pulse_env():
    root = os.environ["TESTENV_ROOT"]
    env = dict(os.environ)
    env["XDG_RUNTIME_DIR"] = os.path.join(root, "runtime")
    env["HOME"] = os.path.join(root, "home")
    env["PULSE_SERVER"] = "unix:" + os.path.join(root, "runtime", "pulse", "native")
    return env


def read_channels(path):
    with wave.open(path, "rb") as w:
        rate = w.getframerate()
        data = w.readframes(w.getnframes())
    samples = struct.unpack("<%dh" % (len(data) // 2), data)
    return rate, samples[0::2], samples[1::2]


def active_span(left, right, threshold=500):
    loud = [i for i in range(len(left)) if abs(left[i]) > threshold or abs(right[i]) > threshold]
    return (loud[0], loud[-1]) if loud else (0, -1)


def frequency(channel, start, end, rate):
    """Frequency from the spacing of rising zero crossings over [start, end].

    Spacings far from the median (those that span a capture gap) are left out: counted in,
    a gap would read as a lower frequency."""
    crossings = [i for i in range(start + 1, end) if channel[i - 1] < 0 <= channel[i]]
    if len(crossings) < 2:
        return 0.0
    spacings = [b - a for a, b in zip(crossings, crossings[1:])]
    median = sorted(spacings)[len(spacings) // 2]
    kept = [s for s in spacings if abs(s - median) <= 0.2 * median]
    return rate * len(kept) / sum(kept)


def longest_gap(left, right, start, end, rate, threshold=500):
    """Longest run of silence inside [start, end], in seconds."""
    longest = run = 0
    for i in range(start, end):
        if abs(left[i]) <= threshold and abs(right[i]) <= threshold:
            run += 1
            longest = max(longest, run)
        else:
            run = 0
    # A sine crosses zero every half period: only runs longer than a few periods are gaps.
    return longest / rate


def rms(channel, start, end):
    if end <= start:
        return 0.0
    return math.sqrt(sum(x * x for x in channel[start:end]) / (end - start))
