#!/usr/bin/env python3
"""What tools/bench.sh measures from outside the players: sound onsets on the null sink and CPU shares.

  bench_probe.py onsets SINK SECONDS       prints "ONSET <epoch seconds>" for each sound after silence
                                           heard on SINK's monitor, for SECONDS
  bench_probe.py join PLAYS ONSETS LABEL.. for each "PLAY <label> <run> <epoch>" line of PLAYS, the
                                           first onset after it: prints the median delay per label
  bench_probe.py cpu SECONDS PID...        CPU share of each process over SECONDS, and their sum
  bench_probe.py find NAME                 the newest process whose command line holds NAME
  bench_probe.py server PREFIX             the wineserver serving the Wine prefix PREFIX
  bench_probe.py tap NAME                  copies stdin to stdout; at each "MEMORY <when> <heap KiB>" line
                                           adds the private (resident anonymous) memory of the process
                                           running NAME
"""
import os
import statistics
import subprocess
import sys
import time

RATE = 44100
FRAME = 4  # s16le stereo
CHUNK_FRAMES = 441  # 10 ms
LOUD = 100  # dither alone stays within a few steps of zero
SILENCE_BEFORE = 0.3  # seconds of silence that make the next sound an onset


def onsets(sink, seconds):
    parec = subprocess.Popen(["parec", "-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
                              "--channels=2", "--latency-msec=10"], stdout=subprocess.PIPE)
    quiet = 0.0
    end = time.time() + seconds
    try:
        while time.time() < end:
            data = parec.stdout.read(CHUNK_FRAMES * FRAME)
            arrived = time.time()
            if not data:
                break
            samples = memoryview(data).cast("h")
            loud_at = next((i for i, v in enumerate(samples) if abs(v) >= LOUD), None)
            if loud_at is None:
                quiet += len(samples) / 2 / RATE
                continue
            if quiet >= SILENCE_BEFORE:
                # The chunk arrived as its last frame was played: date the first loud frame back.
                behind = (len(samples) - loud_at) / 2 / RATE
                print("ONSET %.6f" % (arrived - behind), flush=True)
            quiet = 0.0
    finally:
        parec.terminate()
        parec.wait()


def join(plays_path, onsets_path, labels):
    found = sorted(float(line.split()[1]) for line in open(onsets_path) if line.startswith("ONSET"))
    delays = {}
    for line in open(plays_path):
        parts = line.split()
        if len(parts) != 4 or parts[0] != "PLAY":
            continue
        at = float(parts[3])
        after = [t for t in found if t >= at]
        if after and after[0] - at < 10:
            delays.setdefault(parts[1], []).append((after[0] - at) * 1000)
    for label in labels:
        values = delays.get(label, [])
        if values:
            print("RESULT %s_first_sound_ms %.0f  (median of %d: %s)" % (
                label, statistics.median(values), len(values), " ".join("%.0f" % v for v in values)))
        else:
            print("RESULT %s_first_sound_ms none" % label)


def ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def cpu(seconds, pids):
    hz = os.sysconf("SC_CLK_TCK")
    before = {pid: ticks(pid) for pid in pids}
    time.sleep(seconds)
    total = 0.0
    for pid in pids:
        share = 100.0 * (ticks(pid) - before[pid]) / hz / seconds
        total += share
        print("CPU %d %.2f" % (pid, share))
    print("CPU total %.2f" % total)


def find_process(name):
    """The newest process other than this one whose command line holds name."""
    best = None
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                if name.encode() not in f.read():
                    continue
            with open("/proc/%s/stat" % entry) as f:
                started = int(f.read().rsplit(")", 1)[1].split()[19])
        except OSError:
            continue
        if best is None or started > best[1]:
            best = (int(entry), started)
    return best[0] if best else None


def wineserver_of(prefix):
    """A prefix's wineserver works in the prefix or in a directory named after its device and inode."""
    st = os.stat(prefix)
    named = "server-%x-%x" % (st.st_dev, st.st_ino)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            cwd = os.readlink("/proc/%s/cwd" % entry)
        except OSError:
            continue
        if cwd == prefix or os.path.basename(cwd) == named:
            return int(entry)
    return None


def private_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    return -1


def tap(name):
    seen = {}
    heap = {}
    for line in sys.stdin:
        line = line.rstrip("\r\n")
        parts = line.split()
        if len(parts) == 3 and parts[0] == "MEMORY":
            pid = find_process(name)
            kib = private_kib(pid) if pid else -1
            seen[parts[1]] = kib
            heap[parts[1]] = int(parts[2])
            line = "MEMORY %s private_kib=%d heap_in_use_kib=%s" % (parts[1], kib, parts[2])
        print(line, flush=True)
    if "one_playing" in seen and "after_stations" in seen:
        print("RESULT memory_one_playing_kib %d" % seen["one_playing"])
        print("RESULT memory_growth_after_stations_kib %d" % (seen["after_stations"] - seen["one_playing"]))
        print("RESULT heap_one_playing_kib %d" % heap["one_playing"])
        print("RESULT heap_growth_after_stations_kib %d" % (heap["after_stations"] - heap["one_playing"]))


def main(argv):
    if len(argv) >= 3 and argv[0] == "onsets":
        onsets(argv[1], float(argv[2]))
    elif len(argv) >= 4 and argv[0] == "join":
        join(argv[1], argv[2], argv[3:])
    elif len(argv) == 2 and argv[0] == "tap":
        tap(argv[1])
    elif len(argv) == 2 and argv[0] in ("find", "server"):
        pid = find_process(argv[1]) if argv[0] == "find" else wineserver_of(argv[1])
        if pid is None:
            return 1
        print(pid)
    elif len(argv) >= 3 and argv[0] == "cpu":
        cpu(float(argv[1]), [int(p) for p in argv[2:]])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
