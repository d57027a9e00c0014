"""Driving pelradio as a person does: the real window under Xvfb, X input, screenshots, its peers.

The player's addresses are built in: the stream at 127.0.0.1:11000 and the site at
127.0.0.1:11001, so the stations and pages of these tests listen there.
"""
import functools
import os
import socket
import struct
import subprocess
import threading
import time

from harness import BUILD_DIR, SOURCE_DIR, WINE_RUN, Station, wait_for


def testenv():
    """The test environment's variables (DISPLAY, WINEPREFIX, HOME, ...), as testenv.sh sets them."""
    out = subprocess.run(["bash", "-c", '. "$1" 2>/dev/null && env -0', "-",
                          os.path.join(SOURCE_DIR, "tests", "testenv.sh")], stdout=subprocess.PIPE, check=True).stdout
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


ENV = testenv()
# The test environment's own X display, as its programs under Wine see it.
os.environ["DISPLAY"] = ENV["DISPLAY"]

PELRADIO = os.path.join(BUILD_DIR, "player", "pelradio.exe")
SKIN_DIR = os.path.join(BUILD_DIR, "player", "skin")
CAPTION = "Pellora Player v2"
STREAM_PORT = 11000
SITE_PORT = 11001

# Layout of the client area (x, y, width, height).
CLOSE_BOX = (5, 5, 11, 12)
MIN_BOX = (338, 5, 11, 12)
TITLE_STRIP = (0, 0, 354, 21)
DEMAND_TAB = (74, 25, 58, 11)
RECORD_TAB = (131, 24, 46, 11)
LAMP = (160, 27)
LOGO = (179, 25, 165, 26)
INDICATOR_AT = (14, 42)
PLAY_BUTTON = (15, 59, 9, 9)
STOP_BUTTON = (26, 59, 9, 9)
LABEL = (47, 62, 261, 12)
RAMP = (313, 62, 25, 13)
CREDIT = (13, 84, 109, 9)
BANNERS = [(268, 86), (293, 86), (290, 86), (274, 86)]
LCD = (20, 28, 36)  # the label's background in the skin


def xdo(*args):
    out = subprocess.run(["xdotool", *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         encoding="utf-8", errors="replace", timeout=20)
    return out.stdout.strip()


def center(place):
    return place[0] + place[2] // 2, place[1] + place[3] // 2


def click_at(x, y, button=1):
    """A click at a screen position in one xdotool call, without pauses around it."""
    xdo("mousemove", x, y, "sleep", "0.05", "click", button)


def window_geometry(window):
    """(x, y, width, height) of an X window on the screen; None when it has gone meanwhile."""
    values = dict(line.split("=", 1) for line in xdo("getwindowgeometry", "--shell", window).split() if "=" in line)
    if not all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
        return None
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def window_named(name):
    """The first top-level window with exactly this name, or None."""
    # Names compared here, not by xdotool's pattern: its regular expressions miss Korean text.
    return next((w for w in xdo("search", "--name", ".").split() if xdo("getwindowname", w) == name), None)


def window_origin(name, seconds=0):
    """Top-left corner of the window with exactly this name, waited for; None when it does not come."""
    origin = []

    def found():
        window = window_named(name)
        # A window found by name may close before its geometry is read (a picker being dismissed).
        geometry = window_geometry(window) if window else None
        origin[:] = geometry[:2] if geometry else []
        return bool(origin)
    return tuple(origin) if wait_for(found, seconds) else None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Bitmap:
    """A 24-bit BMP as the build wrote it: size and rows of RGB tuples, top row first."""

    def __init__(self, path):
        data = open(path, "rb").read()
        offset, = struct.unpack_from("<I", data, 10)
        self.width, height, _, bpp = struct.unpack_from("<iiHH", data, 18)
        assert bpp == 24, path
        stride = (self.width * 3 + 3) & ~3
        self.height = abs(height)
        rows = []
        for y in range(self.height):
            start = offset + y * stride
            row = data[start:start + self.width * 3]
            rows.append([(row[i + 2], row[i + 1], row[i]) for i in range(0, len(row), 3)])
        self.rows = rows[::-1] if height > 0 else rows


@functools.lru_cache(maxsize=None)
def skin_picture(name):
    return Bitmap(os.path.join(SKIN_DIR, name))


class Screenshot:
    """The whole X screen, taken with ImageMagick's import."""

    def __init__(self):
        data = subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-depth", "8",
                               "ppm:-"], stdout=subprocess.PIPE, check=True).stdout
        # P6 header: magic, width, height, maxval, each followed by one whitespace byte.
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1:]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def area(self, x, y, w, h):
        return [[self.pixel(x + i, y + j) for i in range(w)] for j in range(h)]

    def shows(self, x, y, picture):
        """True when the picture is on screen at (x, y), pixel for pixel."""
        return self.area(x, y, picture.width, picture.height) == picture.rows


class TestStation(Station):
    """The bundled station on the player's own ports, logging its stream connections."""

    def __init__(self, *args, lifetime=120):
        super().__init__("--site-port", str(SITE_PORT), "--log-connections", *args, lifetime=lifetime,
                         port=STREAM_PORT)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.strip())

    def opened(self):
        return sum(1 for l in self.lines if l.startswith("OPEN "))

    def open_now(self):
        return self.opened() - sum(1 for l in self.lines if l.startswith("CLOSED "))


class Player:
    """pelradio.exe under Wine, with its window found on the X display.

    env: variables added to the test's own; locale: the system's (testenv.sh's TESTENV_LOCALE);
    seam_log: a file where the program logs its beeps; pause: seconds left for the first paint."""

    def __init__(self, exe=PELRADIO, env=None, locale=None, seam_log=None, pause=1.0):
        # The seams only as a test asks for them.
        variables = {k: v for k, v in os.environ.items() if not k.startswith("PELRADIO_SEAM_")}
        variables.update(env or {})
        if locale:
            variables["TESTENV_LOCALE"] = locale
        self.seam_log = seam_log
        if seam_log:
            variables["PELRADIO_SEAM_LOG"] = windows_path(seam_log)
        self.proc = subprocess.Popen([WINE_RUN, exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     env=variables)
        self.window = None
        # A cold Wine start takes long.
        wait_for(lambda: self._find() is not None, 40, step=0.2)
        assert self.window is not None, "the player's window did not appear"
        # Found as soon as it exists; a person meets it once it is mapped and painted.
        wait_for(self.visible, 10, step=0.1)
        time.sleep(pause)

    def _find(self):
        found = xdo("search", "--name", CAPTION).split()
        self.window = found[0] if found else None
        return self.window

    def geometry(self):
        """(x, y, width, height) of the window on the screen."""
        return window_geometry(self.window)

    def visible(self):
        return self.window in xdo("search", "--onlyvisible", "--name", CAPTION).split()

    def to_screen(self, x, y):
        gx, gy, _, _ = self.geometry()
        return gx + x, gy + y

    def move_to(self, x, y):
        xdo("mousemove", *self.to_screen(x, y))
        time.sleep(0.15)

    def click(self, x, y, button=1):
        self.move_to(x, y)
        xdo("click", button)
        time.sleep(0.3)

    def press(self, x, y, button=1):
        self.move_to(x, y)
        xdo("mousedown", button)
        time.sleep(0.2)

    def release(self, button=1):
        xdo("mouseup", button)
        time.sleep(0.2)

    def tap(self, x, y, button=1):
        """A click without click()'s pauses, for clicks whose timing a test measures."""
        click_at(*self.to_screen(x, y), button)

    def shows(self, x, y, picture):
        gx, gy, _, _ = self.geometry()
        return Screenshot().shows(gx + x, gy + y, picture)

    def label(self):
        gx, gy, _, _ = self.geometry()
        return Screenshot().area(gx + LABEL[0], gy + LABEL[1], LABEL[2], LABEL[3])

    def state(self, shot=None):
        """(banners shown, lamp shown), read from one screenshot."""
        shot = shot or Screenshot()
        gx, gy, _, _ = self.geometry()
        banners = [n for n, (bx, by) in enumerate(BANNERS)
                   if shot.shows(gx + bx, gy + by, skin_picture("banner%d.bmp" % n))]
        return banners, shot.shows(gx + LAMP[0], gy + LAMP[1], skin_picture("lamp.bmp"))

    def wait_state(self, banners, lamp, seconds=5):
        return wait_for(lambda: self.state() == (banners, lamp), seconds, step=0.2)

    def beeps(self):
        """How many beeps the seam log holds."""
        try:
            with open(self.seam_log) as f:
                return f.read().split().count("BEEP")
        except OSError:
            return 0

    def ended(self, seconds):
        try:
            self.proc.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        """Ends the program through its close box; true when it ended so, else it is killed."""
        if self.proc.poll() is None and self.window is not None:
            self.click(*center(CLOSE_BOX))
        if self.ended(15):
            return True
        subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=ENV, stderr=subprocess.DEVNULL)
        self.proc.wait(timeout=10)
        return False


# The title page's marker: the label shows what follows it.
MARKER = "재생중인 노래명&nbsp;:&nbsp;"
SLOW_SECONDS = 14


def title_page(body, encoding="cp949", head=""):
    return ("<html><head>%s</head><body><table><tr>%s</tr></table></body></html>" % (head, body)).encode(encoding)


class TitleSite:
    """Serves title pages on the player's site port, one case per request; stops by itself.

    cases: (answer, anything) pairs; an answer is a page, (page, Content-Type), None for a missing
    page or "slow" for a page that comes after SLOW_SECONDS. Requests past the last get the first."""

    def __init__(self, cases, lifetime):
        self.cases = cases
        self.requests = []
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", SITE_PORT))
        self.listener.listen(8)
        self.listener.settimeout(1)
        self.until = time.monotonic() + lifetime
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def close(self):
        """Stops listening before its lifetime is over, freeing the port."""
        self.until = 0
        self.thread.join()

    def run(self):
        while time.monotonic() < self.until:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            index = len(self.requests)
            self.requests.append(time.monotonic())
            threading.Thread(target=self.answer, args=(conn, index), daemon=True).start()
        self.listener.close()

    def answer(self, conn, index):
        with conn:
            conn.settimeout(5)
            try:
                conn.recv(4096)
                body = self.cases[index][0] if index < len(self.cases) else self.cases[0][0]
                kind = "text/html"
                if isinstance(body, tuple):
                    body, kind = body
                if body is None:
                    conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                    return
                if body == "slow":
                    time.sleep(SLOW_SECONDS)
                    body = title_page("<td>" + MARKER + "TWO</td>")
                conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                             % (kind.encode(), len(body)) + body)
            except OSError:
                pass


def label_is_empty(area):
    return all(p == LCD for row in area for p in row)


def tray_window():
    found = xdo("search", "--name", "Wine System Tray").split()
    return found[0] if found else None


class BrowserStandIn:
    """Registers a script as the prefix's web browser; it records the addresses it is given."""

    def __init__(self, directory):
        self.log = os.path.join(directory, "browser.log")
        script = os.path.join(directory, "browser.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$*\" >> '%s'\n" % self.log)
        os.chmod(script, 0o755)
        subprocess.run([WINE_RUN, "reg", "add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/t",
                        "REG_SZ", "/d", script, "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pages(self):
        return open(self.log).read().split() if os.path.exists(self.log) else []
