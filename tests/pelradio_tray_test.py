"""pelradio's notification icon outlives the shell: after the tray forgets every icon and announces a new
taskbar, as a restarting shell does, the icon of a hidden window comes back and a double-click on it
shows the window."""
import os
import sys
import time

from harness import Checks, run_windows, wait_for
from pelradio import CAPTION, MIN_BOX, Player, center, tray_window, xdo

TRAY_FORGET = os.path.join("tests", "tray_forget.exe")


def main():
    c = Checks()
    player = Player()
    c.check(wait_for(lambda: tray_window() is not None, 10), "the icon is in the notification area")
    player.click(*center(MIN_BOX))
    c.check(wait_for(lambda: not player.visible(), 3), "the minimise box hides the window")

    code, lines = run_windows(TRAY_FORGET, CAPTION)
    c.check(code == 0, "the shell forgot the icon and announced a new taskbar: %r" % lines)
    # With its last icon gone, Wine's tray window goes; the icon brings it back.
    time.sleep(0.2)
    c.check(wait_for(lambda: tray_window() is not None, 3), "the icon is back within 3 s")
    time.sleep(0.5)
    tray = tray_window()
    if tray is not None:
        xdo("mousemove", "--window", tray, 10, 10, "click", "--repeat", 2, "--delay", 80, 1)
    c.check(wait_for(player.visible, 3), "a double-click on it shows the window")
    c.check(player.close(), "the close box still ends the program")
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
