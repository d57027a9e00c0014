"""Soak driver behind tools/soak.sh: a player plays the bundled station for long; its figures sampled and judged.

  soak.py MINUTES DROP_SECONDS            kelplay plays a PLS list; it prints its own figures
  soak.py --pelradio MINUTES DROP_SECONDS pelradio as a listener runs it: its window under Xvfb, its
                                          title fetch, a recording now and then; census.exe counts it
"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = os.environ["SOURCE_DIR"]
BUILD_DIR = os.environ["BUILD_DIR"]
WINE_RUN = os.environ["WINE_RUN"]
SAMPLE_SECONDS = 10
KBPS = 128
MIB = 1024 * 1024
# A census line, the process's own or census.exe's; the Linux figures are added by the pelradio run.
FIGURES = re.compile(r"(?:stats|census) private (\d+) workingset (\d+) handles (\d+) threads (\d+) stacks (\d+) "
                     r"windows (\d+) gdi (\d+)")
# Counts that must come back to their level after warm-up, by their names in a sample.
COUNTS = ("handles", "threads", "windows", "gdi")
# pelradio records for this long every ten minutes, from its first half-minute on (inside the warm-up).
RECORD_FIRST = 30
RECORD_EVERY = 600
RECORD_SECONDS = 45


def start_station(minutes, drop_seconds, *args):
    """The bundled station, closing every connection after drop_seconds of audio; its output lines
    are collected in the list returned beside it."""
    station = subprocess.Popen(
        [sys.executable, os.path.join(SOURCE_DIR, "tools", "station.py"),
         "--mp3", os.path.join(BUILD_DIR, "media", "station.mp3"), "--kbps", str(KBPS),
         "--close-after", str(KBPS * 1000 // 8 * drop_seconds), "--log-connections",
         "--lifetime", str(minutes * 60 + 120), *args],
        stdout=subprocess.PIPE, text=True)
    port = int(station.stdout.readline().split()[1])
    station.stdout.readline()  # the site's port
    lines = []
    threading.Thread(target=lambda: [lines.append(l.strip()) for l in station.stdout], daemon=True).start()
    return station, port, lines


def sample_of(line, begun):
    m = FIGURES.search(line)
    if not m:
        return None
    values = [int(v) for v in m.groups()]
    return dict(zip(("private", "workingset", "handles", "threads", "stacks", "windows", "gdi"), values),
                at=time.monotonic() - begun)


def show(sample, extra=""):
    print("%6.0f s  private %8.2f MiB (stacks %5.2f)  handles %4d  threads %3d  windows %2d  gdi %3d  "
          "(working set %7.2f MiB)%s" % (sample["at"], sample["private"] / MIB, sample["stacks"] / MIB,
                                          sample["handles"], sample["threads"], sample["windows"], sample["gdi"],
                                          sample["workingset"] / MIB, extra), flush=True)


def judge(samples, warmup, extra_ok=True):
    """Prints the verdict over the samples after warm-up; true when flat."""
    settled = [s for s in samples if s["at"] >= warmup]
    if len(settled) < 2:
        print("soak: FAILED, too few samples")
        return False
    base = settled[0]
    last_minute = [s for s in settled if s["at"] >= settled[-1]["at"] - 60]
    spread = max(s["private"] for s in settled) - min(s["private"] for s in settled)
    # Growth is what a leak shows. A sample taken while a reconnect has one thread fewer (the old
    # reader gone, its successor not yet started) dips by that thread's stacks and is no fault.
    growth = max(s["private"] for s in settled) - base["private"]
    memory_ok = growth <= MIB and abs(settled[-1]["private"] - base["private"]) <= MIB
    before = [s for s in samples if s["at"] < warmup]
    if before:
        print("soak: before warm-up, private bytes %.2f MiB (stacks %.2f) at the first sample, %.2f..%.2f MiB"
              % (before[0]["private"] / MIB, before[0]["stacks"] / MIB, min(s["private"] for s in before) / MIB,
                 max(s["private"] for s in before) / MIB))
    dips = [s for s in settled if s["private"] < base["private"] - MIB]
    print("soak: private bytes %.2f MiB at warm-up (stacks %.2f), %.2f MiB at the end (stacks %.2f), at most %.2f MiB "
          "above warm-up, spread %.2f MiB; %d samples more than 1 MiB below, their threads %s: %s"
          % (base["private"] / MIB, base["stacks"] / MIB, settled[-1]["private"] / MIB, settled[-1]["stacks"] / MIB,
             growth / MIB, spread / MIB, len(dips), sorted(set(s["threads"] for s in dips)) or "-",
             "flat" if memory_ok else "NOT FLAT"))
    print("soak: working set (Linux's figure, native libraries included) %.2f..%.2f MiB after warm-up" %
          (min(s["workingset"] for s in settled) / MIB, max(s["workingset"] for s in settled) / MIB))
    counts_ok = True
    for name in COUNTS:
        back = min(s[name] for s in last_minute) <= base[name]
        counts_ok = counts_ok and back
        print("soak: %s %d at warm-up, %d..%d after, %d at the end: %s" %
              (name, base[name], min(s[name] for s in settled), max(s[name] for s in settled), settled[-1][name],
               "back to their level" if back else "NOT BACK"))
    ok = memory_ok and counts_ok and extra_ok
    print("soak: %s" % ("flat" if ok else "FAILED"))
    return ok


def kelplay_soak(minutes, drop_seconds, warmup):
    station, port, lines = start_station(minutes, drop_seconds, "--port", "0", "--site-port", "0", "--pls")
    url = "http://127.0.0.1:%d/soak.pls" % port
    player = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, "tools", "kelplay.exe"), url],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    samples = []
    titles = []
    begun = time.monotonic()

    def read():
        for raw in player.stdout:
            line = raw.decode("utf-8", "replace").strip()
            sample = sample_of(line, begun)
            if sample:
                samples.append(sample)
                show(sample, "  connections %d" % sum(l.startswith("OPEN") for l in lines))
            elif line.startswith("ChangeMetadata "):
                titles.append(line)
    threading.Thread(target=read, daemon=True).start()

    print("soak: %s min of %s, connections dropped after %d s of audio, a sample every %d s, warm-up %d s" %
          (minutes, url, drop_seconds, SAMPLE_SECONDS, warmup), flush=True)
    end = begun + minutes * 60
    while time.monotonic() < end and player.poll() is None:
        player.stdin.write(b"stats\n")
        player.stdin.flush()
        time.sleep(SAMPLE_SECONDS)
    alive = player.poll() is None
    if alive:
        player.stdin.write(b"quit\n")
        player.stdin.flush()
    player.wait(timeout=60)
    station.terminate()
    station.wait(timeout=10)
    opened = sum(l.startswith("OPEN") for l in lines)
    print("soak: %d samples; %d stream connections, %d texts" % (len(samples), opened, len(titles)))
    if not alive:
        print("soak: FAILED, the player ended early")
        return False
    return judge(samples, warmup, opened >= 2)


def linux_figures(name):
    """(resident anonymous KiB, open descriptors) of the Wine process running the program name, as
    Linux counts them; (-1, -1) when it is not found. Only this run's network namespace is looked
    in: a test run beside it may have a pelradio of its own."""
    ours = os.readlink("/proc/self/ns/net")
    for entry in os.listdir("/proc"):
        try:
            if not entry.isdigit() or os.readlink("/proc/%s/ns/net" % entry) != ours:
                continue
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                program = f.read().split(b"\0")[0]
            if program.lower().endswith(name.encode()):
                with open("/proc/%s/status" % entry) as f:
                    kib = next(int(line.split()[1]) for line in f if line.startswith("RssAnon:"))
                return kib, len(os.listdir("/proc/%s/fd" % entry))
        except (OSError, StopIteration):
            continue
    return -1, -1


def pelradio_soak(minutes, drop_seconds, warmup):
    sys.path.insert(0, os.path.join(SOURCE_DIR, "tests"))
    from pelradio import RECORD_TAB, SITE_PORT, STREAM_PORT, Player, center, windows_path
    # pelradio's station ports are fixed: soak.sh runs this in a network namespace of its own.
    station, _, lines = start_station(minutes, drop_seconds, "--port", str(STREAM_PORT), "--site-port",
                                      str(SITE_PORT), "--titles", "첫 노래|둘째 노래|셋째 노래", "--title-seconds", "40")
    folder = tempfile.mkdtemp(prefix="soak-records-")
    player = Player(env={"PELRADIO_SEAM_FOLDER": windows_path(folder)},
                    seam_log=os.path.join(folder, "beeps.log"))
    begun = time.monotonic()
    print("soak: pelradio for %s min, connections dropped after %d s of audio, a %d s recording every %d s, "
          "a sample every %d s, warm-up %d s" % (minutes, drop_seconds, RECORD_SECONDS, RECORD_EVERY,
                                                  SAMPLE_SECONDS, warmup), flush=True)
    samples = []
    rss = []
    recordings_started = 0
    recording_until = None
    end = begun + minutes * 60
    while time.monotonic() < end and player.proc.poll() is None:
        now = time.monotonic() - begun
        if recording_until is None and now >= RECORD_FIRST + recordings_started * RECORD_EVERY:
            player.tap(*center(RECORD_TAB))
            recordings_started += 1
            recording_until = now + RECORD_SECONDS
        elif recording_until is not None and now >= recording_until:
            player.tap(*center(RECORD_TAB))
            recording_until = None
        census = subprocess.run([WINE_RUN, os.path.join(BUILD_DIR, "tools", "census.exe"), "pelradio.exe"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        sample = sample_of(census.stdout, begun)
        if sample:
            samples.append(sample)
            kib, fds = linux_figures("pelradio.exe")
            rss.append((sample["at"], kib))
            show(sample, "  rss-anon %7.2f MiB  fds %3d  connections %d  pages %d%s" % (
                kib / 1024, fds, sum(l.startswith("OPEN") for l in lines), sum(l.startswith("PAGE") for l in lines),
                "  recording" if recording_until is not None else ""))
        time.sleep(max(0.0, SAMPLE_SECONDS - (time.monotonic() - begun - now)))
    alive = player.proc.poll() is None
    if recording_until is not None and alive:
        player.tap(*center(RECORD_TAB))
    closed = alive and player.close()
    station.terminate()
    station.wait(timeout=10)
    opened = sum(l.startswith("OPEN") for l in lines)
    pages = sum(l.startswith("PAGE") for l in lines)
    files = sorted(glob.glob(os.path.join(folder, "PELLORA_*.mp3")))
    sizes = [os.path.getsize(f) for f in files]
    print("soak: %d samples; %d stream connections, %d site requests, %d recordings started, %d files of %s bytes"
          % (len(samples), opened, pages, recordings_started, len(files), "/".join(map(str, sizes)) or "no"))
    settled = [kib for at, kib in rss if at >= warmup and kib >= 0]
    if settled:
        print("soak: Linux's resident anonymous memory %.2f..%.2f MiB after warm-up" %
              (min(settled) / 1024, max(settled) / 1024))
    for f in files:
        os.remove(f)
    if not alive:
        print("soak: FAILED, the player ended early")
        return False
    # The title page is asked for every 10 s; recordings hold what came (128 kbps for RECORD_SECONDS).
    working = (opened >= 2 and pages >= minutes * 6 * 0.8 and len(files) == recordings_started and
               all(size >= KBPS * 1000 // 8 * RECORD_SECONDS // 2 for size in sizes))
    if not working:
        print("soak: FAILED, the player did not keep playing, fetching titles and recording")
    if not closed:
        print("soak: FAILED, the player did not end through its close box")
    return judge(samples, warmup, working and closed)


def main(argv):
    pelradio = argv[:1] == ["--pelradio"]
    args = argv[1:] if pelradio else argv
    minutes = float(args[0]) if args else 60
    drop_seconds = int(args[1]) if len(args) > 1 else 150  # each connection ends after this much audio
    # Warm-up: the first connection, its buffers and the device settle; at most 5 minutes.
    warmup = min(300, minutes * 60 / 4)
    ok = (pelradio_soak if pelradio else kelplay_soak)(minutes, drop_seconds, warmup)
    return 0 if ok else 1


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))
