"""pelradio without the mouse, in one run against the bundled station: the window's keys, the media
keys with the window hidden, and what a screen reader reads (every control by name, role and value,
and the title's name change); the tray icon keeps its tip and has no menu."""
import os
import sys
import tempfile
import time

from harness import ARCH, run_windows, wait_for
from pelradio import CAPTION, RAMP, BrowserStandIn, Screenshot, TestStation, skin_picture, tray_window, xdo
from recorder_support import recorder, recordings, run

# Four titles of 5 s each: two reads of the page, 10 s apart, never find the same one.
TITLES = ["Alpha Song", "베타 노래", "Gamma Tune", "델타 곡"]
KNOB = skin_picture("knob.bmp")
TRAY_TIP_PROBE = os.path.join("tests", "tray_tip_probe.exe")
ACCESSIBLE_PROBE = os.path.join("tests", "accessible_probe.exe")


def knob_at(player):
    shot = Screenshot()
    gx, gy, _, _ = player.geometry()
    return [k for k in range(21) if shot.shows(gx + RAMP[0] + k, gy + RAMP[1], KNOB)]


def key(*names):
    """Keys as the X server's own input, to whichever window has the keyboard."""
    for name in names:
        xdo("key", "--clearmodifiers", name)
        time.sleep(0.3)


def tips():
    # The probe lays tooltip records out in the shell's own process, a 64-bit one whichever tree the
    # player comes from: the 64-bit tree's probe reads them for both.
    probe = TRAY_TIP_PROBE if ARCH == "x86_64" else os.path.join("..", "x86_64", TRAY_TIP_PROBE)
    code, lines = run_windows(probe, loader="/usr/lib/wine/wine64")
    return [l[4:] for l in lines if l.startswith("TIP ")]


def accessible(*args):
    """The window's children as the probe reads them: {child id: (role, state, name, value)}, and
    the probe's other lines."""
    code, lines = run_windows(ACCESSIBLE_PROBE, CAPTION, *args)
    children = {}
    for line in lines:
        if line.startswith("CHILD "):
            head, _, rest = line.partition(" name=")
            fields = head.split()
            name, _, value = rest.partition("|value=")
            children[int(fields[1])] = (int(fields[2][5:]), int(fields[3][6:], 16), name, value)
    return children, lines


def names(children):
    """The eleven children's names in order, empty where the probe found none."""
    return [children.get(i, (0, 0, "", ""))[2] for i in range(1, 12)]


def volume(children):
    found = [c[3] for c in children.values() if c[2] == "Volume"]
    return int(found[0]) if found and found[0].isdigit() else None


def over_tray():
    """The pointer over the tray icon: with no window manager, the keyboard goes where the pointer is."""
    tray = tray_window()
    if tray:
        xdo("mousemove", "--window", tray, 10, 10)
        time.sleep(0.2)
    return tray


def right_click_tray():
    tray = over_tray()
    if tray:
        xdo("click", 3)
        time.sleep(0.8)
    return tray


def test(c, work):
    began = time.monotonic()
    folder = os.path.join(work, "records")
    os.makedirs(folder)
    titles = "|".join(TITLES)
    with TestStation("--titles", titles, "--title-seconds", "5", lifetime=200) as station:
        BrowserStandIn(work)
        player = recorder(work, folder)
        c.check(wait_for(lambda: station.open_now() == 1, 15), "the player connects")
        # The keyboard goes to the window once a click has made it the active one.
        player.click(100, 50)

        # Space stops and plays.
        key("space")
        c.check(wait_for(lambda: station.open_now() == 0, 5), "Space stops: the station sees the stream go")
        opened = station.opened()
        key("space")
        c.check(wait_for(lambda: station.opened() == opened + 1 and station.open_now() == 1, 10),
                "Space plays again: the station sees a new stream")

        # Volume steps of 5: the knob moves by a pixel, the control reports the level.
        c.check(knob_at(player) == [20], "the knob starts at 100: %r" % knob_at(player))
        key("Down", "Down", "minus")
        c.check(wait_for(lambda: knob_at(player) == [17], 2), "Down, Down and - take three steps: %r" % knob_at(player))
        children, lines = accessible()
        c.check(volume(children) == 85, "the control reports volume 85: %r" % lines)
        key("Up", "plus")
        c.check(wait_for(lambda: knob_at(player) == [19], 2), "Up and + take two steps back: %r" % knob_at(player))

        # R records and ends the recording.
        key("r")
        c.check(wait_for(lambda: len(recordings(folder)) == 1, 10), "R starts a recording: %r" % recordings(folder))
        time.sleep(2)
        key("r")
        c.check(player.wait_state([2], False), "R again ends it with RECORDED OK: %r" % (player.state(),))
        files = recordings(folder)
        c.check(len(files) == 1 and os.path.getsize(files[0]) > 10000, "the recording holds the stream: %r"
                % [(f, os.path.getsize(f)) for f in files])

        # What a screen reader finds.
        children, lines = accessible()
        expected = ["Close", "Hide", "Demand", "Record", "Pellora home page"]
        c.check(names(children)[:5] == expected, "the title strip and the tabs by name: %r" % names(children))
        c.check(names(children)[5] == "Connected", "the indicator by its state: %r" % lines)
        c.check(names(children)[6:8] == ["Play", "Stop"] and children.get(7, (0,))[0] == 43 and children.get(8, (0,))[0] == 43,
                "the play and stop buttons, as push buttons: %r" % lines)
        c.check(children.get(10, (0,))[0] == 51 and volume(children) == 95, "the volume, a slider at 95: %r" % lines)
        c.check(names(children)[8] in ["Now playing: " + t for t in TITLES], "the title: %r" % lines)

        # The title's next change is announced to screen readers; the tray icon's tip stays the
        # station's name, as the shell reads it.
        children, lines = accessible("--watch", "11")
        events = [l for l in lines if l.startswith("EVENT NAME 9 Now playing: ")]
        c.check(any(l[len("EVENT NAME 9 Now playing: "):] in TITLES for l in events),
                "the title's name change is announced: %r" % lines[-6:])
        c.check(tips() == ["Pellora"], "the tip is the station's name after a title change: %r" % tips())

        # Esc hides; the media keys act on the hidden player.
        key("Escape")
        c.check(wait_for(lambda: not player.visible(), 3), "Esc hides the window")
        over_tray()
        key("XF86AudioPlay")
        c.check(wait_for(lambda: station.open_now() == 0, 5), "play/pause with the window hidden stops")
        opened = station.opened()
        key("XF86AudioPlay")
        c.check(wait_for(lambda: station.opened() == opened + 1, 10), "and plays again")
        key("XF86AudioLowerVolume")
        c.check(volume(accessible()[0]) == 90, "volume down with the window hidden")
        key("XF86AudioMute")
        c.check(volume(accessible()[0]) == 0, "mute")
        key("XF86AudioMute")
        c.check(volume(accessible()[0]) == 90, "mute again restores the level it came from")
        key("XF86AudioStop")
        c.check(wait_for(lambda: station.open_now() == 0, 5), "the stop key stops")

        # A right-click on the icon opens nothing: the keys that follow reach no menu.
        c.check(right_click_tray() is not None, "the tray icon is there")
        key("x", "Escape")
        c.check(not player.ended(2) and not player.visible(), "a right-click on the icon opens no menu")
        # A double-click brings the window back; Alt+F4 ends the program, icon first.
        over_tray()
        xdo("click", "--repeat", 2, "--delay", 80, 1)
        c.check(wait_for(player.visible, 3), "a double-click on the icon shows the window")
        player.click(100, 50)
        key("alt+F4")
        c.check(player.ended(10), "Alt+F4 ends the program")
        c.check(wait_for(lambda: tray_window() is None, 5), "and its icon is gone")
    print("took %.0f s" % (time.monotonic() - began))


if __name__ == "__main__":
    sys.exit(run(test))
