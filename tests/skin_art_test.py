"""pelradio's artwork: make_skin.py writes every picture, icon and the cursor in the shapes the player loads."""
import os
import struct
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "player", "make_skin.py")

SIZES = {
    "skin.bmp": (354, 107), "disconnected.bmp": (52, 5), "connecting.bmp": (44, 5), "connected.bmp": (41, 5),
    "banner0.bmp": (70, 5), "banner1.bmp": (46, 5), "banner2.bmp": (48, 5), "banner3.bmp": (65, 5),
    "lamp.bmp": (7, 7), "ramp.bmp": (25, 13), "knob.bmp": (5, 13), "blank.bmp": (11, 11),
    "close_pressed.bmp": (11, 11), "min_pressed.bmp": (11, 11),
}
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def read_bmp(path):
    """(width, height, bpp, rows top-down of (r, g, b)) of an uncompressed bottom-up BMP."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    w, h, _, bpp, compression = struct.unpack_from("<iiHHI", data, 18)
    if data[:2] != b"BM" or bpp != 24 or compression != 0 or h <= 0:
        return w, h, bpp, None
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        line = data[offset + y * stride: offset + y * stride + w * 3]
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, w * 3, 3)])
    return w, h, bpp, rows


def read_icon(data, index=0):
    """Kind, count, directory entry, header, and the mask bit and colour of (x, y) of one ICO/CUR image."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    entry = struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
    at = entry[7]
    header = struct.unpack_from("<IiiHHI", data, at)
    w, h2, bpp = header[1], header[2], header[4]
    h = h2 // 2
    colours = header[0] + 4 * (1 << bpp)
    xor_stride = ((w * bpp + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = data[at + colours: at + colours + xor_stride * h]
    mask = data[at + colours + xor_stride * h: at + colours + (xor_stride + and_stride) * h]
    palette = data[at + header[0]: at + colours]
    masked = lambda x, y: (mask[(h - 1 - y) * and_stride + x // 8] >> (7 - x % 8)) & 1

    def colour(x, y):
        byte = xor[(h - 1 - y) * xor_stride + x * bpp // 8]
        index = (byte >> (8 - bpp - x * bpp % 8)) & ((1 << bpp) - 1)
        b, g, r = palette[4 * index: 4 * index + 3]
        return r, g, b
    return kind, count, entry, header, masked, colour


def main():
    with tempfile.TemporaryDirectory() as out:
        png = os.path.join(out, "preview.png")
        run = subprocess.run([sys.executable, SCRIPT, out, "--preview", png], capture_output=True, text=True)
        check(run.returncode == 0, "make_skin.py runs: %s" % run.stderr.strip()[-300:])
        check(os.path.exists(png) and open(png, "rb").read(8) == b"\x89PNG\r\n\x1a\n", "the preview is a PNG")

        pics = {}
        for name, size in SIZES.items():
            path = os.path.join(out, name)
            if not os.path.exists(path):
                check(False, "%s is written" % name)
                continue
            w, h, bpp, rows = read_bmp(path)
            check((w, h) == size and bpp == 24 and rows is not None, "%s is %dx%d, 24 bpp" % ((name,) + size))
            pics[name] = rows

        def differ(names):
            return all(pics.get(a) is not None and pics.get(a) != pics.get(b)
                       for i, a in enumerate(names) for b in names[i + 1:])
        check(differ(["disconnected.bmp", "connecting.bmp", "connected.bmp"]), "indicator pictures differ")
        check(differ(["banner%d.bmp" % i for i in range(4)]), "banners differ")
        check(differ(["blank.bmp", "close_pressed.bmp"]) and differ(["blank.bmp", "min_pressed.bmp"]),
              "pressed boxes differ from the resting box")

        skin = pics.get("skin.bmp")
        if skin:
            label = {skin[y][x] for y in range(62, 74) for x in range(47, 308)}
            check(len(label) == 1, "the label rectangle is one colour: %s" % sorted(label)[:3])
            spot = {skin[y][x] for y in range(42, 47) for x in range(14, 67)}
            ind_bg = {pics["disconnected.bmp"][y][0] for y in range(5)}
            check(len(spot) == 1 and spot == ind_bg, "the indicator spot is flat and matches the pictures")
            area = {skin[y][x] for y in range(86, 91) for x in range(268, 340)}
            check(len(area) == 1 and area == {pics["banner0.bmp"][0][0]}, "the banner area matches the banners")
            boxes = [[row[x:x + 11] for row in skin[5:16]] for x in (5, 338)]
            check(boxes == [pics["blank.bmp"]] * 2, "the skin's boxes look like blank.bmp")

        icons = []
        for name in ("tray0.ico", "tray1.ico", "tray2.ico", "pelradio.ico"):
            data = open(os.path.join(out, name), "rb").read()
            kind, count, entry, header, _, _ = read_icon(data)
            check(kind == 1 and entry[:2] == (16, 16) and header[1:3] == (16, 32) and header[4] == 4,
                  "%s holds a 16x16 4 bpp image" % name)
            icons.append(data)
        check(len(set(icons[:3])) == 3, "the three tray frames differ")

        data = open(os.path.join(out, "hand.cur"), "rb").read()
        kind, count, entry, header, masked, colour = read_icon(data)
        check(kind == 2 and count == 1 and entry[:2] == (32, 32) and header[4] == 1, "hand.cur is a 32x32 1 bpp cursor")
        check(entry[4:6] == (13, 9), "the hot spot is (13, 9): %r" % (entry[4:6],))
        # opaque where the mask bit is clear; the colour bit then picks black or white
        check(not masked(13, 9) and colour(13, 9) in ((0, 0, 0), (255, 255, 255)),
              "the hot spot lies on the fingertip: %r" % (colour(13, 9),))
        check(all(masked(x, 4) for x in range(32)), "the cursor is transparent above the finger")

    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
