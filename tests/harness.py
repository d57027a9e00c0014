"""Shared pieces of the host-side tests: the bundled station and Windows programs under Wine."""
import os
import shutil
import subprocess
import sys
import threading
import time

SOURCE_DIR = os.environ["SOURCE_DIR"]
BUILD_DIR = os.environ["BUILD_DIR"]
WINE_RUN = os.environ["WINE_RUN"]
# The build tree's target, x86_64 or i686: its programs run under that Wine loader.
ARCH = os.environ.get("TARGET_ARCH", "x86_64")
# Set where the tree's programs run under an emulator (tools/i686-root.sh).
EMULATED = os.environ.get("KELPLAYERX_EMULATED")
STATION_MP3 = os.path.join(BUILD_DIR, "media", "station.mp3")


class Station:
    """The bundled station on free loopback ports (stream and site), or with port=11000 where
    pelradio looks for it (site on 11001); it stops by itself after its lifetime."""

    def __init__(self, *args, lifetime=60, port=0):
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE_DIR, "tools", "station.py"), "--mp3", STATION_MP3,
             "--port", str(port), "--lifetime", str(lifetime), *args],
            stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        assert line.startswith("PORT "), line
        self.port = int(line.split()[1])
        self.url = "http://127.0.0.1:%d/" % self.port
        line = self.proc.stdout.readline()
        assert line.startswith("SITE_PORT "), line
        self.site_port = int(line.split()[1])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def run_windows(exe, *args, timeout=60, loader=None):
    """Runs a built Windows program under Wine (under loader, when given, instead of the tree's own);
    returns (exit code, stdout lines)."""
    path = os.path.join(BUILD_DIR, exe)
    env = dict(os.environ, TESTENV_LOADER=loader) if loader else None
    done = subprocess.run([WINE_RUN, path, *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=timeout, env=env)
    lines = done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    return done.returncode, lines


# Asks Wine for the UTF-8 code page (65001) in one program's process, as Windows' own setting does.
UTF8_MANIFEST = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly manifestVersion="1.0" xmlns="urn:schemas-microsoft-com:asm.v1">
  <application>
    <windowsSettings>
      <activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>
    </windowsSettings>
  </application>
</assembly>
"""


def utf8_copy(exe, folder):
    """A copy of a built program in folder, with a manifest beside it that gives it the UTF-8 code page."""
    copy = os.path.join(folder, os.path.basename(exe))
    shutil.copy(os.path.join(BUILD_DIR, exe), copy)
    with open(copy + ".manifest", "w") as f:
        f.write(UTF8_MANIFEST)
    return copy


class WindowsProcess:
    """A built Windows program running under Wine; its lines are kept with the time they came.
    With commands=True its stdin is a pipe that send() writes to."""

    def __init__(self, exe, *args, commands=False):
        self.lines = []
        self.proc = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, exe), *args],
                                     stdin=subprocess.PIPE if commands else None,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").strip()))

    def send(self, line):
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def first(self, predicate, after=0.0):
        """Time of the first line at or after `after` that predicate accepts, or None."""
        return next((t for t, line in list(self.lines) if t >= after and predicate(line)), None)

    def wait_for(self, predicate, seconds, after=0.0):
        end = time.monotonic() + seconds
        while time.monotonic() < end and self.first(predicate, after) is None:
            time.sleep(0.05)
        return self.first(predicate, after)

    def count(self, predicate):
        return sum(1 for _, line in list(self.lines) if predicate(line))

    def finish(self, timeout=60):
        self.proc.wait(timeout=timeout)
        self.reader.join(timeout=5)
        return self.proc.returncode


class Checks:
    """Collects failed checks so that one run reports all of them."""

    def __init__(self):
        self.failures = []

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures.append(what)

    def real_time(self, ok, what):
        """A check of real-time pacing (gaps in what is heard): under qemu-i386 every instruction of the 32-bit
        programs is emulated, and on a shared machine their pacing shows the emulation, not the program."""
        if EMULATED:
            print("SKIP %s (%s)" % (what, "real-time pacing under emulation"), flush=True)
        else:
            self.check(ok, what)

    def finish(self):
        if self.failures:
            print("%d check(s) failed" % len(self.failures))
            return 1
        print("all checks passed")
        return 0


def wait_for(predicate, seconds, step=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()
