"""pelradio when things are missing or hostile: no station, an enormous title page, no registered
control (it then loads the one beside it), a broken control file. The window starts and answers."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

from harness import BUILD_DIR, WINE_RUN, Checks, wait_for
from pelradio import (INDICATOR_AT, PELRADIO, SITE_PORT, Player, TestStation, label_is_empty,
                      skin_picture, xdo)

OCX = os.path.join(BUILD_DIR, "control", "kelplayerx.ocx")
MARKER = "재생중인 노래명&nbsp;:&nbsp;"
ENORMOUS = 3 * 1024 * 1024


def serve_enormous(lifetime):
    """A title page of 3 MiB whose marker comes at its very end; stops by itself, or when the
    returned function is called."""
    body = b"<!-- filler -->\r\n" * (ENORMOUS // 17) + ("<td>" + MARKER + "ONE</td>").encode("cp949")
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", SITE_PORT))
    listener.listen(8)
    listener.settimeout(1)
    until = time.monotonic() + lifetime
    stopping = threading.Event()

    def run():
        while time.monotonic() < until and not stopping.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                continue
            with conn:
                try:
                    conn.recv(4096)
                    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
                except OSError:
                    pass
        listener.close()

    thread = threading.Thread(target=run, daemon=True)
    thread.start()

    def stop():
        stopping.set()
        thread.join()

    return stop


def answers_drag(player):
    """A drag on the title strip moves the window within a second."""
    x, y, _, _ = player.geometry()
    xdo("mousemove", x + 200, y + 10, "mousedown", 1)
    xdo("mousemove", x + 210, y + 15)
    xdo("mousemove", x + 220, y + 20)
    moved = wait_for(lambda: player.geometry()[:2] == (x + 20, y + 10), 1.0, step=0.05)
    xdo("mouseup", 1)
    time.sleep(0.2)
    return moved


def regsvr32(*args):
    subprocess.run([WINE_RUN, "regsvr32", "/s", *args, OCX], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    c = Checks()
    connecting = skin_picture("connecting.bmp")
    connected = skin_picture("connected.bmp")

    # No station, and a title page that is enormous.
    stop_site = serve_enormous(lifetime=60)
    player = Player()
    c.check(answers_drag(player), "with the station down the window answers a drag within 1 s")
    c.check(player.shows(INDICATOR_AT[0], INDICATOR_AT[1], connecting), "and says it is still connecting")
    c.check(wait_for(lambda: not label_is_empty(player.label()), 20), "an enormous page's title reaches the label")
    c.check(answers_drag(player), "the window still answers after the enormous page")
    player.close()
    stop_site()

    with tempfile.TemporaryDirectory() as tmp, TestStation() as station:
        alone = os.path.join(tmp, "alone")
        os.mkdir(alone)
        exe = os.path.join(alone, "pelradio.exe")
        shutil.copy(PELRADIO, exe)
        regsvr32("/u")
        try:
            # Neither registered nor beside the program: a window without a control.
            player = Player(exe)
            c.check(answers_drag(player), "without a control the window starts and answers")
            time.sleep(2)
            c.check(station.opened() == 0, "and nothing connects")
            player.close()

            # A file of that name that is no module at all.
            with open(os.path.join(alone, "kelplayerx.ocx"), "wb") as f:
                f.write(b"MZ this is not a module" * 100)
            player = Player(exe)
            c.check(answers_drag(player), "with a broken control file the window starts and answers")
            player.close()

            # The control copied beside the program is found by its class identifier.
            shutil.copy(OCX, os.path.join(alone, "kelplayerx.ocx"))
            player = Player(exe)
            c.check(wait_for(lambda: station.open_now() == 1, 15), "the control beside the program plays")
            c.check(wait_for(lambda: player.shows(INDICATOR_AT[0], INDICATOR_AT[1], connected), 10),
                    "and the indicator shows CONNECTED")
            player.close()
        finally:
            regsvr32()
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
