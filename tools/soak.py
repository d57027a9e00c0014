"""Soak driver behind tools/soak.sh: plays a PLS list through kelplay, samples its figures, judges them."""
import os
import re
import subprocess
import sys
import threading
import time

SOURCE_DIR = os.environ["SOURCE_DIR"]
BUILD_DIR = os.environ["BUILD_DIR"]
WINE_RUN = os.environ["WINE_RUN"]
SAMPLE_SECONDS = 10
KBPS = 128
MIB = 1024 * 1024


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 60
    drop_seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 150  # each connection ends after this much audio
    # Warm-up: the first connection, its buffers and the device settle; at most 5 minutes.
    warmup = min(300, minutes * 60 / 4)
    station = subprocess.Popen(
        [sys.executable, os.path.join(SOURCE_DIR, "tools", "station.py"),
         "--mp3", os.path.join(BUILD_DIR, "media", "station.mp3"), "--port", "0", "--site-port", "0",
         "--pls", "--kbps", str(KBPS), "--close-after", str(KBPS * 1000 // 8 * drop_seconds),
         "--log-connections", "--lifetime", str(minutes * 60 + 120)],
        stdout=subprocess.PIPE, text=True)
    port = int(station.stdout.readline().split()[1])
    station.stdout.readline()  # the site's port
    opened = []
    threading.Thread(target=lambda: [opened.append(l) for l in station.stdout if l.startswith("OPEN")],
                     daemon=True).start()

    url = "http://127.0.0.1:%d/soak.pls" % port
    player = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, "tools", "kelplay.exe"), url],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    samples = []  # (seconds, private, handles, threads, working set)
    titles = []
    begun = time.monotonic()

    def read():
        for raw in player.stdout:
            line = raw.decode("utf-8", "replace").strip()
            m = re.match(r"stats private (\d+) workingset (\d+) handles (\d+) threads (\d+)", line)
            if m:
                private, working, handles, threads = (int(v) for v in m.groups())
                sample = (time.monotonic() - begun, private, handles, threads, working)
                samples.append(sample)
                print("%6.0f s  private %8.2f MiB  handles %4d  threads %3d  (working set %7.2f MiB)  "
                      "connections %d" % (sample[0], private / MIB, handles, threads, working / MIB, len(opened)),
                      flush=True)
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

    settled = [s for s in samples if s[0] >= warmup]
    if not alive or len(settled) < 2:
        print("soak: FAILED, the player ended early" if not alive else "soak: FAILED, too few samples")
        return 1
    base = settled[0]
    last_minute = [s for s in settled if s[0] >= settled[-1][0] - 60]
    memory_spread = max(s[1] for s in settled) - min(s[1] for s in settled)
    memory_ok = max(abs(s[1] - base[1]) for s in settled) <= MIB
    handles_ok = min(s[2] for s in last_minute) <= base[2]
    threads_ok = min(s[3] for s in last_minute) <= base[3]
    print("soak: %d samples, %d after warm-up; %d stream connections, %d texts" %
          (len(samples), len(settled), len(opened), len(titles)))
    print("soak: private bytes %.2f MiB at warm-up, %.2f MiB at the end, spread %.2f MiB after warm-up: %s" %
          (base[1] / MIB, settled[-1][1] / MIB, memory_spread / MIB, "flat" if memory_ok else "NOT FLAT"))
    print("soak: working set (Linux's figure, native libraries included) %.2f..%.2f MiB after warm-up" %
          (min(s[4] for s in settled) / MIB, max(s[4] for s in settled) / MIB))
    print("soak: handles %d at warm-up, %d..%d after, %d at the end: %s" %
          (base[2], min(s[2] for s in settled), max(s[2] for s in settled), settled[-1][2],
           "back to their level" if handles_ok else "NOT BACK"))
    print("soak: threads %d at warm-up, %d..%d after, %d at the end: %s" %
          (base[3], min(s[3] for s in settled), max(s[3] for s in settled), settled[-1][3],
           "back to their level" if threads_ok else "NOT BACK"))
    ok = memory_ok and handles_ok and threads_ok and len(opened) >= 2
    print("soak: %s" % ("flat" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    raise SystemExit(main())
