"""pelradio at 96, 144 and 192 dots per inch (the prefix's LogPixels), each in a private network
namespace on an overlay of the test prefix, so that no other program sees the setting: the window's
size, a screenshot (at 96 the skin's own pictures pixel for pixel, with the focus cue only once the
keyboard is used; at 144 and 192 the label's text in its two colours, sharp), clicks at scaled
places, and where a screen reader finds the controls. Alt+F4 ends each run."""
import json
import os
import sys
import time

from harness import Checks, run_windows, wait_for

DPIS = (96, 144, 192)
TITLE = "Sharp Title 가나다"
LABEL_TEXT = (132, 232, 255)


def scaled(value, dpi):
    """What MulDiv(value, dpi, 96) gives."""
    return (value * dpi + 48) // 96


def span(start, length, dpi):
    """The pixels a scaled place covers: from its first pixel's to its last's."""
    return -(-(start + length) * dpi // 96) - start * dpi // 96


def composite(pictures, indicator):
    """The 96-dpi face at start-up with an empty label, from the skin's own pictures."""
    from pelradio import INDICATOR_AT, RAMP, CLOSE_BOX, MIN_BOX
    rows = [list(r) for r in pictures("skin.bmp").rows]

    def put(name, x, y):
        for j, row in enumerate(pictures(name).rows):
            rows[y + j][x:x + len(row)] = row
    put("blank.bmp", CLOSE_BOX[0], CLOSE_BOX[1])
    put("blank.bmp", MIN_BOX[0], MIN_BOX[1])
    put(indicator + ".bmp", *INDICATOR_AT)
    put("ramp.bmp", RAMP[0], RAMP[1])
    put("knob.bmp", RAMP[0] + 20, RAMP[1])
    return rows


def inside(dpi):
    """One run at one scale, inside the namespace; prints its findings as one JSON line."""
    import subprocess
    from pelradio import (CAPTION, LABEL, MIN_BOX, RAMP, STOP_BUTTON, LCD, Player, Screenshot, TitleSite,
                          MARKER, center, skin_picture, title_page, xdo)
    found = {}
    subprocess.run(["/usr/lib/wine/wine64", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", str(dpi), "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    page = (title_page("<td>" + MARKER + TITLE + "</td>"), None)
    # At 96 the first page is missing, so that the first screenshot meets the empty label of start-up.
    site = TitleSite([(None, None), page] if dpi == 96 else [page], lifetime=60)
    player = Player(pause=1.5)
    x, y, w, h = player.geometry()
    found["size"] = [w, h]
    s = lambda v: scaled(v, dpi)

    if dpi == 96:
        # Before any key: the face of start-up, as the skin's pictures make it.
        face = Screenshot().area(x, y, w, h)
        expected = composite(skin_picture, "connecting")
        found["differences"] = [(i, j, face[j][i], expected[j][i]) for j in range(min(h, len(expected)))
                                for i in range(min(w, len(expected[j]))) if face[j][i] != expected[j][i]][:8]
        found["identical"] = face == expected

    code, lines = run_windows(os.path.join("tests", "accessible_probe.exe"), CAPTION)
    found["places"] = [l for l in lines if l.startswith("CHILD ")]
    # Clicks at the scaled places: within the ramp's pixel 12 (volume 50), the stop button.
    xdo("mousemove", x + (2 * (RAMP[0] + 12) + 1) * dpi // 192, y + s(RAMP[1] + 6), "click", 1)
    time.sleep(0.3)
    xdo("mousemove", x + s(center(STOP_BUTTON)[0]), y + s(center(STOP_BUTTON)[1]), "click", 1)
    time.sleep(0.5)
    code, lines = run_windows(os.path.join("tests", "accessible_probe.exe"), CAPTION)
    found["after_clicks"] = [l for l in lines if l.startswith("CHILD ")]

    # The title in the label: two colours only, the field's and the text's, when the text is sharp.
    wait_for(lambda: any(p == LABEL_TEXT for row in player.label() for p in row), 14)
    shot = Screenshot()
    # Inside the label by a pixel of the skin: its edge is where the stretched frame meets the field.
    label = shot.area(x + s(LABEL[0] + 1), y + s(LABEL[1] + 1), s(LABEL[2] - 2), s(LABEL[3] - 2))
    colours = {p for row in label for p in row}
    found["label_colours"] = sorted(colours - {LCD, LABEL_TEXT})[:5]
    text_rows = [j for j, row in enumerate(label) if LABEL_TEXT in row]
    found["text_pixels"] = sum(row.count(LABEL_TEXT) for row in label)
    found["text_height"] = text_rows[-1] - text_rows[0] + 1 if text_rows else 0

    if dpi == 96:
        # The keyboard's first use brings the focus cue; nothing else about the face changes.
        before = Screenshot().area(x, y, w, h)
        xdo("key", "Down")
        xdo("key", "Up")
        time.sleep(0.5)
        after = Screenshot().area(x, y, w, h)
        found["cue_pixels"] = sum(1 for j in range(h) for i in range(w) if before[j][i] != after[j][i])
        found["cue_inside_edge"] = all(before[j][i] == after[j][i] for j in range(2, h - 2) for i in range(2, w - 2))
    xdo("key", "alt+F4")
    found["ended"] = player.ended(10)
    if not found["ended"]:
        player.close()
    site.close()
    print("FOUND " + json.dumps(found), flush=True)


def child(lines, name):
    """(x, y, width, height, value) of the probe's child of that name."""
    for line in lines:
        head, _, rest = line.partition(" name=")
        if rest.partition("|value=")[0] == name:
            at = [int(v) for v in head.split(" at=")[1].split(",")]
            return at + [rest.partition("|value=")[2]]
    return None


def main():
    if sys.argv[1:2] == ["--inside"]:
        inside(int(sys.argv[2]))
        return 0
    from name_namespace import run_in_name_namespace
    from pelradio import ENV, PLAY_BUTTON, RAMP
    from recorder_support import wait_ports_free
    c = Checks()
    wait_ports_free()
    env = dict(os.environ)
    env.update({k: ENV[k] for k in ("WINEPREFIX", "HOME", "XDG_RUNTIME_DIR", "PULSE_SERVER", "DISPLAY") if k in ENV})
    heights = {}
    # A run of some scales alone: pelradio_dpi_test.py 144
    for dpi in [int(a) for a in sys.argv[1:]] or DPIS:
        result = run_in_name_namespace([sys.executable, os.path.abspath(__file__), "--inside", str(dpi)],
                                       timeout=90, env=env)
        lines = [l for l in result.stdout.splitlines() if l.startswith("FOUND ")]
        c.check(len(lines) == 1, "the run at %d dpi reported: %s" % (dpi, result.stderr[-2000:]))
        if not lines:
            continue
        found = json.loads(lines[0][6:])
        size = [scaled(354, dpi), scaled(107, dpi)]
        c.check(found["size"] == size, "at %d dpi the window is %r: %r" % (dpi, size, found["size"]))
        if dpi == 96:
            c.check(found["identical"], "at 96 dpi the face is the skin's pictures, pixel for pixel: %r"
                    % found["differences"])
            c.check(found["cue_pixels"] > 200 and found["cue_inside_edge"],
                    "the keyboard brings a focus cue at the window's edge alone: %d pixels" % found["cue_pixels"])
        c.check(found["text_pixels"] > 20 * (dpi / 96) ** 2 and not found["label_colours"],
                "at %d dpi the label's text is sharp: %d text pixels, other colours %r"
                % (dpi, found["text_pixels"], found["label_colours"]))
        heights[dpi] = found["text_height"]
        play = child(found["places"], "Play")
        c.check(play is not None and play[2:4] == [span(PLAY_BUTTON[0], PLAY_BUTTON[2], dpi),
                                                   span(PLAY_BUTTON[1], PLAY_BUTTON[3], dpi)],
                "at %d dpi a screen reader finds the play button at its scaled size: %r" % (dpi, play))
        volume = child(found["after_clicks"], "Volume")
        c.check(volume is not None and volume[4] == "50", "at %d dpi a click at the ramp's scaled pixel 12 sets "
                "volume 50: %r" % (dpi, volume))
        c.check(child(found["after_clicks"], "Disconnected") is not None,
                "at %d dpi a click on the scaled stop button stops: %r" % (dpi, found["after_clicks"][5:6]))
        c.check(found["ended"], "at %d dpi Alt+F4 ends the program" % dpi)
    if 96 in heights:
        for dpi, height in heights.items():
            c.check(abs(height - heights[96] * dpi / 96) <= 2, "the text at %d dpi is %d pixels high, at 96 %d"
                    % (dpi, height, heights[96]))
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
