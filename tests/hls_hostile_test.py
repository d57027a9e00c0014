"""Hostile HLS stations played through icycat --play: each ends cleanly or skips what it cannot
use, within the run's time, with the process's private bytes (census.exe) staying within a few MiB
of a good station's."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from harness import BUILD_DIR, WINE_RUN, Checks, run_windows
from hls_support import HlsStation

SECONDS = 8
REFUSAL_SECONDS = 6  # enough for a refusal's text and end
# Wine's start-up adds up to about 2.5 s to the program's own limit, its ending a little more.
SLACK = 2 + 2.5
MIB = 1024 * 1024
MEMORY_ROOM = 8 * MIB
CENSUS = re.compile(r"census private (\d+) ")


class Run:
    """icycat --play under a name of its own (so that census.exe finds this process only), its
    private bytes sampled every second while it runs."""

    def __init__(self, tmp, name, url, seconds):
        exe = os.path.join(tmp, name + ".exe")
        shutil.copy(os.path.join(BUILD_DIR, "tools", "icycat.exe"), exe)
        self.name = name + ".exe"
        self.samples = []
        started = time.monotonic()
        self.proc = subprocess.Popen([WINE_RUN, exe, "--play", url, "--seconds", str(seconds)],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        sampler = threading.Thread(target=self._sample, daemon=True)
        sampler.start()
        try:
            out, _ = self.proc.communicate(timeout=seconds + 30)
            self.code = self.proc.returncode
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
            self.code = None
        self.took = time.monotonic() - started
        sampler.join(timeout=10)
        self.lines = out.decode("utf-8", "replace").replace("\r", "").splitlines()

    def _sample(self):
        while self.proc.poll() is None:
            try:
                code, lines = run_windows(os.path.join("tools", "census.exe"), self.name, timeout=20)
            except subprocess.TimeoutExpired:  # a machine too busy for this sample; the next one counts
                continue
            found = [CENSUS.match(l) for l in lines]
            self.samples += [int(m.group(1)) for m in found if m]
            time.sleep(1)

    def peak(self):
        return max(self.samples, default=0)


def main():
    c = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        with HlsStation("ts-aac") as good:
            base = Run(tmp, "hls-good", good.master, SECONDS)
        c.check(base.code == 0 and "STARTED" in base.lines and base.samples,
                "a good station plays, private bytes up to %.1f MiB" % (base.peak() / MIB))
        limit = base.peak() + MEMORY_ROOM

        def run(mode, form="ts-aac", seconds=SECONDS):
            with HlsStation(form, "--hls-hostile", mode) as station:
                result = Run(tmp, "hls-" + mode, station.master, seconds)
                result.station_paths = list(station.paths)
                result.segments = station.segments()
            c.check(result.code == 0 and result.took < seconds + SLACK,
                    "%s: icycat ends cleanly on time: exit %s after %.1f s" % (mode, result.code, result.took))
            c.check(result.samples and result.peak() <= limit,
                    "%s: private bytes up to %.1f MiB (a good station: %.1f)" % (mode, result.peak() / MIB,
                                                                                 base.peak() / MIB))
            return result

        messages = lambda r: [l for l in r.lines if l.startswith("MESSAGE ")]

        # A master naming itself: no endless descent, no segment, a text and the end.
        r = run("self", seconds=REFUSAL_SECONDS)
        c.check(r.station_paths.count("/live.m3u8") <= 3 and not r.segments and messages(r) and "ENDED" in r.lines,
                "self: given up after %d fetches with %r" % (r.station_paths.count("/live.m3u8"), messages(r)))

        # A list of a 10 MB: refused without playing it.
        r = run("huge", seconds=REFUSAL_SECONDS)
        c.check(messages(r) and "ENDED" in r.lines and "STARTED" not in r.lines,
                "huge: refused with %r" % messages(r))

        # A key of 15 bytes: nothing decrypted with it is played.
        r = run("bad-key", form="aes", seconds=REFUSAL_SECONDS)
        c.check(messages(r) and "STARTED" not in r.lines, "bad-key: refused with %r" % messages(r))

        # A list growing without bound: played from its live end, memory bounded (above).
        r = run("endless")
        c.check("STARTED" in r.lines, "endless: played")
        c.check(len(r.segments) <= 10 and len(set(r.segments)) == len(r.segments),
                "endless: a few segments fetched, each once: %d" % len(r.segments))

        # Spoilt transport streams: decoding goes on past each fault.
        for mode in ("ts-cc", "ts-pes-length", "ts-garbage"):
            r = run(mode)
            c.check("STARTED" in r.lines and "ENDED" not in r.lines, "%s: played on: %r" % (mode, r.lines[:3]))

        # Every third segment trickles for ever: it is given up and later ones are fetched. One of the first
        # three is slow and holds the reader for 8 s (its read limit, then its retry's); a busy machine's
        # start-up under emulation takes seconds more.
        r = run("slow", seconds=20)
        slow = [s for s in r.segments if s % 3 == 1]
        c.check(bool(slow) and any(s > slow[0] and s % 3 != 1 for s in r.segments),
                "slow: segments after a slow one fetched: %s" % r.segments)
        # The time it held the reader, with no reload, is no stall of the list.
        c.check("STARTED" in r.lines and "ENDED" not in r.lines, "slow: played on: %r" % messages(r))
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
