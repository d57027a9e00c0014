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
        # A freshly started server can take more than a second to let the first recording begin:
        # wait until the monitor's silence reaches the file, or the start of what follows is lost.
        deadline = time.time() + 10
        while time.time() < deadline and self.proc.poll() is None:
            if os.path.exists(self.path) and os.path.getsize(self.path) > 44 + 4 * 4410:
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("parecord did not start recording")
        time.sleep(0.2)
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


def silent_runs(left, right, start, end, threshold=500):
    """Lengths of the runs of silence inside [start, end], in samples."""
    runs = []
    run = 0
    for i in range(start, end):
        if abs(left[i]) <= threshold and abs(right[i]) <= threshold:
            run += 1
        elif run:
            runs.append(run)
            run = 0
    return runs + [run] if run else runs


def longest_gap(left, right, start, end, rate, threshold=500):
    """Longest run of silence inside [start, end], in seconds."""
    # A sine crosses zero every half period: only runs longer than a few periods are gaps.
    return max(silent_runs(left, right, start, end, threshold), default=0) / rate


def sounding_seconds(left, right, start, end, rate, threshold=500):
    """How long sound was heard over [start, end], in seconds: the span less its gaps (silent
    runs over 5 ms; a sine's zero crossings are far shorter). The sink plays silence where the
    device fell behind, so this, unlike the span, is how much of the signal came out."""
    gaps = sum(run for run in silent_runs(left, right, start, end, threshold) if run > rate // 200)
    return (end - start - gaps) / rate


def rms(channel, start, end):
    if end <= start:
        return 0.0
    return math.sqrt(sum(x * x for x in channel[start:end]) / (end - start))
