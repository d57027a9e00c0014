"""What the recorder tests share beyond pelradio.py: their run, the player with its seams, file checks.

A test runs once pelradio's station ports are free; a recording is checked against the bytes the
station sent on the recorder's connection."""
import glob
import os
import shutil
import socket
import subprocess
import tempfile
import time

from harness import Checks, wait_for
from pelradio import PELRADIO, RECORD_TAB, SITE_PORT, STREAM_PORT, Player, center, windows_path

# The recorder's request; the control's asks for titles too.
REQUEST = b"GET / HTTP/1.0\r\n\r\n"
# Where the tests click the record tab.
RECORD_AT = center(RECORD_TAB)
# Players started by this test, closed at its end if still running.
STARTED = []


def recorder(workdir, folder, locale=None, exe=PELRADIO):
    """pelradio (or exe) with the recorder's seams: the folder the picker answers (None shows the
    real picker, "" cancels) and the log of its beeps in workdir."""
    env = {}
    if folder is not None:
        env["PELRADIO_SEAM_FOLDER"] = windows_path(folder) if folder else ""
    player = Player(exe=exe, env=env, locale=locale, seam_log=os.path.join(workdir, "beeps.log"))
    STARTED.append(player)
    return player


def run(test):
    """Runs test(c, work) once the station's ports are free, with a fresh work folder; returns the
    exit code. A player it left running is closed, as after a failure."""
    c = Checks()
    if not wait_ports_free():
        print("ports 11000 and 11001 stay busy")
        return 1
    work = tempfile.mkdtemp(prefix="recorder-")
    try:
        test(c, work)
    finally:
        for player in STARTED:
            if player.proc.poll() is None:
                player.close()
        shutil.rmtree(work, ignore_errors=True)
    return c.finish()


def recordings(folder):
    """The recordings in folder: .mp3 files, and .aac ones of AAC stations."""
    return sorted(glob.glob(os.path.join(folder, "PELLORA_*.mp3")) + glob.glob(os.path.join(folder, "PELLORA_*.aac")))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def connections(sent_dir):
    """The station's connections in order: (request, bytes sent)."""
    result = []
    n = 1
    while os.path.exists(os.path.join(sent_dir, "conn-%d.request" % n)):
        base = os.path.join(sent_dir, "conn-%d" % n)
        result.append((read(base + ".request"), read(base + ".sent") if os.path.exists(base + ".sent") else b""))
        n += 1
    return result


def recorder_connections(sent_dir):
    """Bytes sent on each of the recorder's connections, the answer's header cut off."""
    result = []
    for request, sent in connections(sent_dir):
        if request == REQUEST:
            end = sent.find(b"\r\n\r\n")
            result.append(sent[end + 4:] if end >= 0 else b"")
    return result


def tail_offset(recorded, audio):
    """Where the recording starts within the audio sent after the header, or -1 when it is not one
    contiguous piece of it (a lost, changed or repeated byte)."""
    if not recorded:
        return -1
    return audio.find(recorded)


def station_goes_away(c, player, station, folder, earliest):
    """Records from station, which goes away for good 3 s in: the error banner is checked to come
    between earliest and 14 s later. Returns the recordings this made."""
    before = set(recordings(folder))
    player.tap(*RECORD_AT)
    time.sleep(3)
    station.proc.terminate()
    station.proc.wait(timeout=10)
    gone = time.monotonic()
    c.check(wait_for(lambda: player.state() == ([3], False), 20), "away: the error banner: %r" % (player.state(),))
    waited = time.monotonic() - gone
    c.check(earliest <= waited <= 14, "away: given up %.0f to 14 s after: %.1f s" % (earliest, waited))
    return sorted(set(recordings(folder)) - before)


def decodes(path):
    """(ok, seconds): ffmpeg decodes the file as MP3 audio; a stream cut in mid-frame at its start is
    normal, so only errors beyond the first frame's resync count."""
    done = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "mp3", "-i", path, "-f", "s16le", "-"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    seconds = len(done.stdout) / (44100 * 2 * 2)
    return done.returncode == 0 and seconds > 0, seconds, done.stderr.decode("utf-8", "replace")


def ports_free(ports=(STREAM_PORT, SITE_PORT)):
    """True when nothing listens on pelradio's station ports (another build tree's test may hold them)."""
    for port in ports:
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                return False
    return True


def wait_ports_free(seconds=240):
    if ports_free():
        return True
    print("waiting for ports 11000 and 11001 to come free", flush=True)
    return wait_for(ports_free, seconds, step=1.0)
