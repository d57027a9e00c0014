"""What the recorder tests share: pelradio under Xvfb driven by real X input, its screen read back
against the skin's own pictures, and the checks of a recorded file against what the station sent."""
import glob
import os
import struct
import subprocess
import time

from harness import BUILD_DIR, SOURCE_DIR, WINE_RUN, wait_for

CAPTION = "Pellora Player v2"
SKIN_DIR = os.path.join(BUILD_DIR, "player", "skin")
# Places in the window's client area.
RECORD_TAB = (131 + 23, 24 + 5)
CLOSE_BOX = (5 + 5, 5 + 6)
LAMP = (160, 27)
BANNERS = [(268, 86), (293, 86), (290, 86), (274, 86)]
REQUEST = b"GET / HTTP/1.0\r\n\r\n"


def testenv():
    """The test environment's variables (DISPLAY, WINEPREFIX, HOME, ...), as testenv.sh sets them."""
    out = subprocess.run(["bash", "-c", '. "$1" && env -0', "-", os.path.join(SOURCE_DIR, "tests", "testenv.sh")],
                         stdout=subprocess.PIPE, check=True).stdout
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


ENV = testenv()


def x(*args):
    return subprocess.run(["xdotool", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=ENV,
                          timeout=20).stdout.decode("utf-8", "replace")


def window_origin(name, seconds=40):
    """Top-left corner of the top-level X window with this caption, or None."""
    origin = []

    def found():
        # Names compared here, not by xdotool's pattern: its regular expressions miss Korean text.
        ids = [w for w in x("search", "--name", ".").split() if x("getwindowname", w).rstrip("\n") == name]
        if not ids:
            return False
        geometry = x("getwindowgeometry", ids[0])
        for line in geometry.splitlines():
            if "Position:" in line:
                px, py = line.split("Position:")[1].split()[0].split(",")
                origin[:] = [int(px), int(py)]
                return True
        return False
    return tuple(origin) if wait_for(found, seconds) else None


def click_at(x0, y0):
    x("mousemove", str(x0), str(y0), "sleep", "0.05", "click", "1")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Picture:
    """RGB pixels, rows top first."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, px, py):
        i = 3 * (py * self.width + px)
        return self.rgb[i:i + 3]

    def contains(self, part, left, top):
        """True when part lies in this picture at (left, top) pixel for pixel."""
        for row in range(part.height):
            i = 3 * ((top + row) * self.width + left)
            if self.rgb[i:i + 3 * part.width] != part.rgb[3 * row * part.width:3 * (row + 1) * part.width]:
                return False
        return True


def load_bmp(name):
    """One of the skin's 24-bit pictures, built into the program."""
    with open(os.path.join(SKIN_DIR, name), "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24, name
    stride = (3 * width + 3) & ~3
    rows = []
    for row in range(abs(height)):
        source = row if height < 0 else abs(height) - 1 - row
        line = data[offset + source * stride:offset + source * stride + 3 * width]
        rows.append(bytes(b for i in range(0, len(line), 3) for b in (line[i + 2], line[i + 1], line[i])))
    return Picture(width, abs(height), b"".join(rows))


def screenshot():
    ppm = subprocess.run(["import", "-display", ENV["DISPLAY"], "-window", "root", "-depth", "8", "ppm:-"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=ENV, timeout=20).stdout
    # P6 <width> <height> <maxval> then the pixels.
    fields = ppm.split(maxsplit=4)
    return Picture(int(fields[1]), int(fields[2]), fields[4])


class Pelradio:
    """pelradio.exe with the recorder's seams: the folder the picker answers (None shows the real
    picker, "" cancels) and the log of its beeps."""

    BANNER_PICTURES = [load_bmp("banner%d.bmp" % i) for i in range(4)]
    LAMP_PICTURE = load_bmp("lamp.bmp")

    def __init__(self, workdir, folder, locale=None):
        self.beep_log = os.path.join(workdir, "beeps.log")
        env = dict(os.environ, PELRADIO_SEAM_LOG=windows_path(self.beep_log))
        if locale:
            env["TESTENV_LOCALE"] = locale
        env.pop("PELRADIO_SEAM_FOLDER", None)
        if folder is not None:
            env["PELRADIO_SEAM_FOLDER"] = windows_path(folder) if folder else ""
        self.proc = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, "player", "pelradio.exe")], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.origin = window_origin(CAPTION)
        # The first paint follows the window's showing.
        time.sleep(0.5)

    def click(self, place):
        click_at(self.origin[0] + place[0], self.origin[1] + place[1])

    def state(self, shot=None):
        """(banners shown, lamp shown) read from the screen."""
        shot = shot or screenshot()
        ox, oy = self.origin
        banners = [i for i, (bx, by) in enumerate(BANNERS)
                   if shot.contains(self.BANNER_PICTURES[i], ox + bx, oy + by)]
        return banners, shot.contains(self.LAMP_PICTURE, ox + LAMP[0], oy + LAMP[1])

    def wait_state(self, banners, lamp, seconds=5):
        return wait_for(lambda: self.state() == (banners, lamp), seconds, step=0.2)

    def after_tick(self, seconds=3):
        """Waits until the tray icon's frame changes, which the window's tick does: the next tick is
        then most of an interval away."""
        tray = window_origin("Wine System Tray", 5)
        if tray is None:
            return False

        def icon():
            shot = screenshot()
            return b"".join(shot.rgb[3 * ((tray[1] + row) * shot.width + tray[0]):][:3 * 16] for row in range(16))
        first = icon()
        return wait_for(lambda: icon() != first, seconds, step=0)

    def beeps(self):
        try:
            with open(self.beep_log) as f:
                return f.read().split().count("BEEP")
        except OSError:
            return 0

    def close(self):
        """Ends the program through its close box; true when it ended by itself."""
        if self.proc.poll() is None and self.origin is not None:
            self.click(CLOSE_BOX)
        try:
            self.proc.wait(timeout=15)
            return True
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
            return False


def recordings(folder):
    return sorted(glob.glob(os.path.join(folder, "PELLORA_*.mp3")))


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


def decodes(path):
    """(ok, seconds): ffmpeg decodes the file as MP3 audio; a stream cut in mid-frame at its start is
    normal, so only errors beyond the first frame's resync count."""
    done = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "mp3", "-i", path, "-f", "s16le", "-"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    seconds = len(done.stdout) / (44100 * 2 * 2)
    return done.returncode == 0 and seconds > 0, seconds, done.stderr.decode("utf-8", "replace")


def ports_free(ports=(11000, 11001)):
    """True when nothing listens on pelradio's station ports (another build tree's test may hold them)."""
    import socket
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
