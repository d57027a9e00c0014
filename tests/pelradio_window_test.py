"""pelradio used as a person uses it: start-up, indicator, title, play and stop, drag, volume,
pages, banners, hide and show through the tray icon, and the close box."""
import os
import sys
import tempfile
import time

from audio import Capture, active_span, read_channels, rms
from harness import Checks, wait_for
from pelradio import (CLOSE_BOX, CREDIT, DEMAND_TAB, INDICATOR_AT, LOGO, MIN_BOX, PLAY_BUTTON, RAMP,
                      STOP_BUTTON, BrowserStandIn, Player, TestStation, center, label_is_empty, skin_picture,
                      tray_window, xdo)

INDICATORS = {name: skin_picture(name + ".bmp") for name in ("disconnected", "connecting", "connected")}
KNOB = skin_picture("knob.bmp")


def indicator(player):
    """The one indicator picture on screen, or a list when it is not exactly one."""
    shown = [name for name, pic in INDICATORS.items() if player.shows(INDICATOR_AT[0], INDICATOR_AT[1], pic)]
    return shown[0] if len(shown) == 1 else shown


def knob_at(player):
    return [k for k in range(21) if player.shows(RAMP[0] + k, RAMP[1], KNOB)]


def level(player, ramp_x, path):
    """Sets the volume with a press on the ramp and measures what the sink played."""
    player.click(RAMP[0] + ramp_x, RAMP[1] + 6)
    time.sleep(3.0)  # audio already queued at the old volume (device and sound server) plays out
    with Capture(path):
        time.sleep(2.5)
    rate, left, right = read_channels(path)
    start, end = active_span(left, right, threshold=50)
    return rms(left, start, end)


def main():
    c = Checks()
    # The walk through every control takes two to three minutes on a busy machine: the station
    # must outlive it, or its last connection is never seen to close.
    with tempfile.TemporaryDirectory() as tmp, TestStation("--title-seconds", "6", lifetime=300) as station:
        browser = BrowserStandIn(tmp)
        player = Player()
        x, y, w, h = player.geometry()
        c.check((w, h) == (354, 107), "the window's client area is 354 x 107: %dx%d at %d,%d" % (w, h, x, y))
        c.check(wait_for(lambda: indicator(player) == "connected", 15), "CONNECTED once the data flows: %r"
                % indicator(player))
        c.check(station.open_now() == 1, "the station sees one stream connection: %r" % station.lines)
        c.check(tray_window() is not None, "the icon is in the notification area")

        c.check(wait_for(lambda: not label_is_empty(player.label()), 10), "the station page's title is in the label")
        first = player.label()
        c.check(wait_for(lambda: player.label() != first, 25), "the label follows the station's next title")

        # Stop and play, with the station watching its connections.
        player.click(*center(STOP_BUTTON))
        c.check(wait_for(lambda: indicator(player) == "disconnected", 2), "the stop button shows DISCONNECTED")
        c.check(wait_for(lambda: station.open_now() == 0, 5), "the station sees the stream go")
        time.sleep(2)
        c.check(indicator(player) == "disconnected", "DISCONNECTED stays after the reader's last report")
        opened = station.opened()
        player.click(*center(PLAY_BUTTON))
        c.check(wait_for(lambda: indicator(player) == "connected", 15), "the play button connects again: %r"
                % indicator(player))
        c.check(station.opened() == opened + 1 and station.open_now() == 1, "the station sees the stream come back")

        # A drag on the title strip moves the window by the pointer's travel.
        player.press(100, 10)
        for step in range(1, 5):
            xdo("mousemove", x + 100 + 10 * step, y + 10 + 8 * step)
            time.sleep(0.15)
        player.release()
        time.sleep(0.5)
        nx, ny, _, _ = player.geometry()
        c.check((nx - x, ny - y) == (40, 32), "the drag moved the window by (40, 32): (%d, %d)" % (nx - x, ny - y))

        # The volume ramp: knob by pixels, the sound's level by the null sink.
        c.check(knob_at(player) == [20], "the knob rests at the place of volume 100: %r" % knob_at(player))
        for ramp_x, knob in ((0, 0), (2, 0), (12, 10), (22, 20)):
            player.click(RAMP[0] + ramp_x, RAMP[1] + 6)
            wait_for(lambda: knob_at(player) == [knob], 2)
            c.check(knob_at(player) == [knob], "a press at ramp pixel %d puts the knob at %d: %r"
                    % (ramp_x, knob, knob_at(player)))
        player.press(RAMP[0] + 12, RAMP[1] + 6)
        player.move_to(RAMP[0] + 30, RAMP[1] + 6)
        player.release()
        c.check(knob_at(player) == [20], "dragging past the ramp's end pins the knob at 20: %r" % knob_at(player))
        player.press(RAMP[0] + 12, RAMP[1] + 6, button=3)
        player.move_to(RAMP[0] + 3, RAMP[1] + 6)
        player.release(button=3)
        c.check(knob_at(player) == [10], "a right press sets the volume, a right-button move does not: %r"
                % knob_at(player))
        loud = level(player, 22, os.path.join(tmp, "loud.wav"))
        quiet = level(player, 6, os.path.join(tmp, "quiet.wav"))
        silent = level(player, 0, os.path.join(tmp, "silent.wav"))
        c.check(loud > 1000 and 0.1 < quiet / loud < 0.3,
                "volume 20 plays at a fifth of volume 100: rms %.0f and %.0f" % (quiet, loud))
        c.check(silent < 0.02 * loud, "volume 0 is silent: rms %.0f" % silent)
        player.click(RAMP[0] + 22, RAMP[1] + 6)

        # Pages open through the system's browser; the demand tab shows its banner.
        player.click(*center(DEMAND_TAB))
        c.check(wait_for(lambda: len(browser.pages()) == 1, 15), "the demand tab opens a page: %r" % browser.pages())
        c.check(browser.pages()[-1:] == ["http://127.0.0.1:11001/zboard/zboard.php?id=Request"],
                "it is the request page")
        c.check(player.state()[0] == [0], "exactly banner 0 shows: %r" % player.state()[0])
        player.click(*center(CREDIT))
        c.check(wait_for(lambda: len(browser.pages()) == 2, 15), "the credit line opens a page")
        c.check(browser.pages()[-1:] == ["http://127.0.0.1:11001/maker.html"], "it is the maker's page: %r"
                % browser.pages()[-1:])
        player.click(*center(LOGO))
        c.check(wait_for(lambda: not player.visible(), 3), "the logo hides the window")
        c.check(wait_for(lambda: len(browser.pages()) == 3, 15), "the logo opens a page")
        c.check(browser.pages()[-1:] == ["http://127.0.0.1:11001/"], "it is the home page: %r"
                % browser.pages()[-1:])

        # The tray icon brings the window back with a double-click, and only with one.
        tray = tray_window()
        xdo("mousemove", "--window", tray, 10, 10, "click", 1)
        time.sleep(1)
        c.check(not player.visible(), "a single click on the icon leaves the window hidden")
        xdo("mousemove", "--window", tray, 10, 10, "click", "--repeat", 2, "--delay", 80, 1)
        c.check(wait_for(player.visible, 3), "a double-click on the icon shows the window")

        # The boxes: pressed look on a press; a right click neither hides nor exits.
        closed_pic, min_pic = skin_picture("close_pressed.bmp"), skin_picture("min_pressed.bmp")
        player.click(*center(MIN_BOX), button=3)
        c.check(player.visible(), "a right click on the minimise box does not hide")
        player.press(*center(MIN_BOX))
        c.check(player.shows(MIN_BOX[0], MIN_BOX[1], min_pic), "a pressed minimise box looks pressed")
        player.release()
        c.check(wait_for(lambda: not player.visible(), 3), "the minimise box hides the window")
        xdo("mousemove", "--window", tray, 10, 10, "click", "--repeat", 2, "--delay", 80, 1)
        c.check(wait_for(player.visible, 3), "and the icon brings it back")
        player.press(*center(CLOSE_BOX))
        c.check(player.shows(CLOSE_BOX[0], CLOSE_BOX[1], closed_pic), "a pressed close box looks pressed")
        player.move_to(60, 50)
        player.release()
        c.check(player.proc.poll() is None, "releasing off the close box does not exit")
        c.check(player.shows(CLOSE_BOX[0], CLOSE_BOX[1], closed_pic), "and the box stays pressed")
        player.move_to(100, 10)
        c.check(player.shows(CLOSE_BOX[0], CLOSE_BOX[1], skin_picture("blank.bmp")),
                "until the pointer moves over the title strip")

        player.click(*center(CLOSE_BOX))
        c.check(player.ended(10), "the close box ends the program")
        c.check(wait_for(lambda: tray_window() is None, 5), "and its icon is gone")
        c.check(wait_for(lambda: station.open_now() == 0, 5), "and its stream connection")
        player.close()
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
