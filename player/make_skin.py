"""Draws pelradio's artwork (skin, indicators, banners, boxes, icons, cursor) into resource files."""
import argparse
import math
import os
import struct
import sys
import zlib

# Colours the program relies on: it paints over these areas, so they stay flat.
PANEL = (192, 192, 192)      # window face; the ramp and knob sit on it
LCD = (20, 28, 36)           # now-playing label, connection indicator and banner area
TAB = (170, 174, 182)        # inactive tab face; the record lamp's corners blend into it
TAB_ACTIVE = (214, 216, 222)

INDICATORS = [
    ("disconnected.bmp", 52, "DISCONNECTED", (236, 76, 68)),
    ("connecting.bmp", 44, "CONNECTING", (244, 178, 52)),
    ("connected.bmp", 41, "CONNECTED", (96, 220, 104)),
]
BANNERS = [
    ("banner0.bmp", 70, "GO TO DEMAND PAGE", (110, 196, 248)),
    ("banner1.bmp", 46, "RECORDING...", (248, 196, 72)),
    ("banner2.bmp", 48, "RECORDED OK", (120, 228, 120)),
    ("banner3.bmp", 65, "RECORDING ERROR", (248, 80, 80)),
]

# 3x5 capitals; M, N and W get more columns, dots and colons one.
SMALL = {
    "A": (".#.", "#.#", "###", "#.#", "#.#"), "B": ("##.", "#.#", "##.", "#.#", "##."),
    "C": (".##", "#..", "#..", "#..", ".##"), "D": ("##.", "#.#", "#.#", "#.#", "##."),
    "E": ("###", "#..", "##.", "#..", "###"), "F": ("###", "#..", "##.", "#..", "#.."),
    "G": (".##", "#..", "#.#", "#.#", ".##"), "H": ("#.#", "#.#", "###", "#.#", "#.#"),
    "I": ("###", ".#.", ".#.", ".#.", "###"), "J": ("..#", "..#", "..#", "#.#", ".#."),
    "K": ("#.#", "#.#", "##.", "#.#", "#.#"), "L": ("#..", "#..", "#..", "#..", "###"),
    "M": ("#...#", "##.##", "#.#.#", "#...#", "#...#"), "N": ("#..#", "##.#", "#.##", "#..#", "#..#"),
    "O": (".#.", "#.#", "#.#", "#.#", ".#."), "P": ("##.", "#.#", "##.", "#..", "#.."),
    "Q": (".#.", "#.#", "#.#", "##.", ".##"), "R": ("##.", "#.#", "##.", "#.#", "#.#"),
    "S": (".##", "#..", ".#.", "..#", "##."), "T": ("###", ".#.", ".#.", ".#.", ".#."),
    "U": ("#.#", "#.#", "#.#", "#.#", "###"), "V": ("#.#", "#.#", "#.#", "#.#", ".#."),
    "W": ("#...#", "#...#", "#.#.#", "##.##", "#...#"), "X": ("#.#", "#.#", ".#.", "#.#", "#.#"),
    "Y": ("#.#", "#.#", ".#.", ".#.", ".#."), "Z": ("###", "..#", ".#.", "#..", "###"),
    "0": ("###", "#.#", "#.#", "#.#", "###"), "1": (".#.", "##.", ".#.", ".#.", "###"),
    "2": ("##.", "..#", ".#.", "#..", "###"), "3": ("##.", "..#", ".#.", "..#", "##."),
    "4": ("#.#", "#.#", "###", "..#", "..#"), "5": ("###", "#..", "##.", "..#", "##."),
    "6": (".##", "#..", "###", "#.#", "###"), "7": ("###", "..#", ".#.", ".#.", ".#."),
    "8": ("###", "#.#", "###", "#.#", "###"), "9": ("###", "#.#", "###", "..#", "##."),
    " ": ("..", "..", "..", "..", ".."), ".": (".", ".", ".", ".", "#"),
    "-": ("...", "...", "###", "...", "..."), ":": (".", "#", ".", "#", "."),
}

# Title strip face: 7 rows above the baseline, 2 below for descenders.
TITLE = {
    "P": ("###.", "#..#", "#..#", "###.", "#...", "#...", "#...", "....", "...."),
    "e": ("....", "....", ".##.", "#..#", "####", "#...", ".###", "....", "...."),
    "l": ("##.", ".#.", ".#.", ".#.", ".#.", ".#.", "###", "...", "..."),
    "o": ("....", "....", ".##.", "#..#", "#..#", "#..#", ".##.", "....", "...."),
    "r": ("...", "...", "#.#", "##.", "#..", "#..", "#..", "...", "..."),
    "a": ("....", "....", "###.", "...#", ".###", "#..#", ".###", "....", "...."),
    "y": ("....", "....", "#..#", "#..#", "#..#", "#..#", ".###", "...#", ".##."),
    "v": ("...", "...", "#.#", "#.#", "#.#", "#.#", ".#.", "...", "..."),
    "2": (".##.", "#..#", "...#", "..#.", ".#..", "#...", "####", "....", "...."),
    " ": ("..", "..", "..", "..", "..", "..", "..", "..", ".."),
}


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Image:
    def __init__(self, w, h, fill):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def get(self, x, y):
        return self.px[y][x]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def blend(self, x, y, c, a):
        if 0 <= x < self.w and 0 <= y < self.h and a > 0:
            self.px[y][x] = mix(self.px[y][x], c, min(a, 1.0))

    def fill(self, x, y, w, h, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, c)

    def vgrad(self, x, y, w, h, top, bottom):
        for yy in range(h):
            self.fill(x, y + yy, w, 1, mix(top, bottom, yy / max(h - 1, 1)))

    def bevel(self, x, y, w, h, light, dark):
        """Lit from the top left: light top and left edges, dark bottom and right."""
        self.fill(x, y, w, 1, light)
        self.fill(x, y, 1, h, light)
        self.fill(x, y + h - 1, w, 1, dark)
        self.fill(x + w - 1, y, 1, h, dark)

    def blit(self, other, x, y):
        for yy in range(other.h):
            for xx in range(other.w):
                c = other.px[yy][xx]
                if c is not None:
                    self.set(x + xx, y + yy, c)

    def crop(self, x, y, w, h):
        out = Image(w, h, None)
        out.px = [row[x:x + w] for row in self.px[y:y + h]]
        return out

    def scaled(self, k):
        out = Image(self.w * k, self.h * k, None)
        out.px = [[c for c in row for _ in range(k)] for row in self.px for _ in range(k)]
        return out

    def cover(self, inside, colour, ss=4):
        """Antialiased fill of a shape given as a point test; colour may depend on the point."""
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for j in range(ss):
                    for i in range(ss):
                        if inside(x + (i + 0.5) / ss, y + (j + 0.5) / ss):
                            hits += 1
                if hits:
                    c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.blend(x, y, c, hits / (ss * ss))


def text_width(font, s, gap=1):
    return sum(len(font[ch][0]) for ch in s) + gap * (len(s) - 1)


def draw_text(img, x, y, s, colour, font=SMALL, gap=1):
    for ch in s:
        rows = font[ch]
        for yy, row in enumerate(rows):
            for xx, bit in enumerate(row):
                if bit == "#":
                    img.set(x + xx, y + yy, colour(x + xx, y + yy) if callable(colour) else colour)
        x += len(rows[0]) + gap
    return x


def engraved(img, x, y, s, dark, light):
    draw_text(img, x, y + 1, s, light)
    draw_text(img, x, y, s, dark)


# Shapes for the antialiased nameplate, as point tests.
def seg(ax, ay, bx, by, r):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy or 1)
        t = max(0.0, min(1.0, t))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= r
    return inside


def arc(cx, cy, rad, r, a0=0, a1=360):
    """Ring of radius rad and half width r, kept between angles a0..a1 (degrees, y down)."""
    def inside(x, y):
        if abs(math.hypot(x - cx, y - cy) - rad) > r:
            return False
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return (a0 <= a <= a1) if a0 <= a1 else (a >= a0 or a <= a1)
    return inside


def disc(cx, cy, rad):
    return lambda x, y: math.hypot(x - cx, y - cy) <= rad


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def wordmark(x0, base, cap, xh, sw):
    """'Pellora' in a round geometric face; returns the shape and its width."""
    r = sw / 2
    shapes = []
    x = x0 + r
    # P: stem and a bowl down to the middle of the cap height
    top, mid = base - cap + r, base - cap * 0.45
    bowl = (mid - top) / 2
    shapes += [seg(x, top, x, base - r, r), seg(x, top, x + 2, top, r), seg(x, mid, x + 2, mid, r),
               arc(x + 2, top + bowl, bowl, r, 270, 90)]
    x += 2 + bowl + r + sw * 1.3
    o = xh / 2 - r
    cy = base - xh / 2
    # e: ring open at the lower right, with a bar through the middle
    x += o
    shapes += [arc(x, cy, o, r, 42, 360), seg(x - o, cy, x + o, cy, r * 0.85)]
    x += o + r + sw * 1.3
    # l l
    for _ in range(2):
        shapes.append(seg(x, base - cap - sw * 0.6 + r, x, base - r, r))
        x += sw * 2.4
    # o
    x += o - sw * 0.4
    shapes.append(arc(x, cy, o, r))
    x += o + r + sw * 1.3
    # r: stem and a shoulder
    shapes.append(seg(x, base - xh + r, x, base - r, r))
    shapes.append(arc(x + o * 0.9, base - xh + r + o * 0.9, o * 0.9, r, 190, 300))
    x += o * 1.6 + sw * 1.3
    # a: round bowl with a stem at the right
    x += o
    shapes += [arc(x, cy, o, r), seg(x + o, base - xh + r, x + o, base - r, r)]
    x += o + r
    return union(*shapes), x - x0


def draw_box(pressed, symbol=None):
    """The title strip's 11x11 box; at rest raised and plain, pressed sunken with its symbol."""
    img = Image(11, 11, (14, 15, 18))
    if pressed:
        img.vgrad(1, 1, 9, 9, (96, 100, 108), (136, 140, 148))
        img.bevel(1, 1, 9, 9, (60, 62, 68), (172, 176, 184))
        ink = (236, 236, 240)
        if symbol == "close":
            for i in range(5):
                img.set(3 + i, 3 + i, ink)
                img.set(7 - i, 3 + i, ink)
        else:
            img.fill(3, 7, 5, 1, ink)
    else:
        img.vgrad(1, 1, 9, 9, (212, 214, 220), (150, 154, 162))
        img.bevel(1, 1, 9, 9, (246, 246, 250), (96, 98, 106))
    return img


def draw_lamp():
    img = Image(7, 7, TAB)
    glow = lambda x, y: mix((255, 252, 196), (236, 188, 20), min(1.0, math.hypot(x - 2.6, y - 2.4) / 3.6))
    img.cover(disc(3.5, 3.5, 3.4), (120, 96, 12))
    img.cover(disc(3.5, 3.5, 2.7), glow)
    return img


def draw_ramp():
    img = Image(25, 13, PANEL)
    low, midc, high = (64, 176, 84), (232, 204, 64), (224, 72, 52)
    for x in range(25):
        t = x / 24
        c = mix(low, midc, t * 2) if t < 0.5 else mix(midc, high, t * 2 - 1)
        for y in range(12 - round(x * 11 / 24), 13):
            img.set(x, y, c if y < 12 else mix(c, (40, 40, 40), 0.35))
    # a dark line along the rising edge reads as a wedge rather than a smear
    img.cover(seg(0, 12.5, 24.5, 0.5, 0.45), (70, 60, 50))
    return img


def draw_knob():
    img = Image(5, 13, PANEL)
    img.fill(0, 1, 5, 11, (22, 26, 38))
    img.fill(1, 0, 3, 13, (22, 26, 38))
    img.vgrad(1, 1, 3, 11, (104, 136, 208), (44, 64, 128))
    img.fill(1, 6, 3, 1, (236, 240, 250))
    img.set(1, 1, (168, 192, 240))
    return img


def draw_skin(blank):
    img = Image(354, 107, PANEL)

    # window edge
    img.bevel(0, 0, 354, 107, (232, 232, 236), (88, 90, 96))
    img.bevel(1, 21, 352, 85, (222, 222, 226), (140, 142, 148))

    # title strip
    img.vgrad(0, 0, 354, 21, (66, 70, 80), (26, 28, 34))
    img.fill(0, 0, 354, 1, (104, 108, 118))
    img.fill(0, 20, 354, 1, (12, 12, 14))
    for x in (5, 338):
        img.blit(blank, x, 5)
        img.fill(x, 16, 11, 1, (18, 19, 22))
    left, right = "Pellora", "Pellora Player v2"
    gap = 9
    total = text_width(TITLE, left) + gap + text_width(TITLE, right)
    x = (354 - total) // 2
    gold = lambda px, py: mix((252, 214, 128), (214, 150, 60), (py - 6) / 6)
    x = draw_text(img, x, 6, left, gold, TITLE) - 1
    img.set(x + gap // 2, 10, (140, 146, 156))  # a dot between the two names
    draw_text(img, x + gap, 6, right, lambda px, py: mix((240, 242, 246), (178, 184, 196), (py - 6) / 6), TITLE)
    # grip lines between the boxes and the text
    for gx0, gx1 in ((22, (354 - total) // 2 - 8), ((354 + total) // 2 + 8, 331)):
        for gy in (8, 11, 14):
            img.fill(gx0, gy, gx1 - gx0, 1, (18, 19, 22))
            img.fill(gx0, gy + 1, gx1 - gx0, 1, (84, 88, 98))

    # tabs; the record tab keeps a bare spot for the program's lamp at x160,y27
    img.fill(3, 36, 176, 1, (120, 122, 128))
    img.fill(3, 37, 176, 1, (236, 236, 240))
    for x, w, label, active in ((5, 67, "MUSIC PLAYER", True), (73, 57, "DEMAND", False), (131, 46, "REC", False)):
        # the open tab runs down into the groove so it reads as in front
        h = 12 if active else 11
        img.fill(x + 1, 24, w - 2, 1, (250, 250, 252))
        img.fill(x, 25, 1, h, (250, 250, 252))
        img.fill(x + w - 1, 25, 1, h, (104, 106, 114))
        img.fill(x + 1, 25, w - 2, h, TAB_ACTIVE if active else TAB)
        ink = (24, 26, 32) if active else (60, 64, 72)
        if label == "REC":
            img.cover(disc(138.5, 30.5, 2.6), (212, 34, 30))
            img.set(137, 29, (250, 150, 140))
            draw_text(img, 143, 28, label, ink)
        else:
            draw_text(img, x + (w - text_width(SMALL, label)) // 2, 28, label, ink)

    # connection indicator window
    img.bevel(12, 40, 57, 9, (112, 114, 120), (246, 246, 248))
    img.fill(13, 41, 55, 7, LCD)

    # speaker grille between the indicator and the nameplate
    img.bevel(72, 40, 104, 17, (132, 134, 140), (240, 240, 244))
    img.fill(73, 41, 102, 15, (176, 178, 184))
    for gy in range(43, 55, 3):
        for gx in range(75, 172, 3):
            img.set(gx, gy, (58, 60, 66))
            img.set(gx + 1, gy, (104, 106, 112))
            img.set(gx, gy + 1, (212, 214, 218))

    # nameplate with the station's logo
    nx, ny, nw, nh = 179, 25, 165, 26
    img.fill(nx, ny, nw, nh, (120, 122, 130))
    img.vgrad(nx + 1, ny + 1, nw - 2, nh - 2, (44, 48, 58), (18, 20, 26))
    img.bevel(nx, ny, nw, nh, (250, 250, 252), (96, 98, 104))
    img.bevel(nx + 1, ny + 1, nw - 2, nh - 2, (12, 12, 16), (70, 74, 84))
    for sx in (nx + 3, nx + nw - 4):
        img.set(sx, ny + 3, (150, 152, 160))
        img.set(sx, ny + nh - 4, (150, 152, 160))
    plate = img.crop(nx, ny, nw, nh)
    # emblem (a mast sending waves inside a ring) and the wordmark, centred as one group
    gold = lambda px, py: mix((255, 226, 150), (200, 132, 48), (py - 3) / 16)
    word, word_w = wordmark(0, 15.5, 12, 8.5, 2.2)
    tag = "INTERNET RADIO"
    tag_w = text_width(SMALL, tag, 2)
    block = max(word_w, tag_w)
    x0 = (nw - (22 + 8 + block)) / 2
    ex, ey = x0 + 11, 13.0
    emblem = union(arc(ex, ey, 10.0, 0.9),
                   disc(ex, ey - 1.5, 1.9),
                   seg(ex, ey - 1.5, ex - 3.5, ey + 7, 0.75), seg(ex, ey - 1.5, ex + 3.5, ey + 7, 0.75),
                   seg(ex - 2.2, ey + 3.6, ex + 2.2, ey + 3.6, 0.6),
                   arc(ex, ey - 1.5, 4.4, 0.7, 140, 220), arc(ex, ey - 1.5, 4.4, 0.7, 320, 40),
                   arc(ex, ey - 1.5, 7.2, 0.7, 148, 212), arc(ex, ey - 1.5, 7.2, 0.7, 328, 32))
    wx = x0 + 30 + (block - word_w) / 2
    plate.cover(lambda x, y: emblem(x - 1, y - 1), (6, 6, 8))
    plate.cover(emblem, gold)
    plate.cover(lambda x, y: word(x - wx - 1, y - 1), (6, 6, 8))
    plate.cover(lambda x, y: word(x - wx, y), gold)
    draw_text(plate, int(round(x0 + 30 + (block - tag_w) / 2)), 18, tag, (150, 160, 176), SMALL, 2)
    img.blit(plate, nx, ny)

    # transport buttons in a recessed well
    img.bevel(12, 56, 26, 15, (132, 134, 140), (240, 240, 244))
    img.fill(13, 57, 24, 13, (176, 178, 184))
    for bx in (15, 26):
        img.fill(bx, 59, 9, 9, (30, 32, 38))
        img.vgrad(bx + 1, 60, 7, 7, (224, 226, 232), (164, 168, 176))
        img.bevel(bx + 1, 60, 7, 7, (252, 252, 252), (120, 124, 132))
    for i in range(5):
        img.fill(18, 61 + i, 3 - abs(2 - i), 1, (28, 118, 52))
    img.fill(29, 62, 3, 3, (36, 38, 46))

    # now-playing field: the label rectangle x47..307,y62..73 stays LCD
    img.bevel(43, 58, 270, 20, (132, 134, 140), (246, 246, 248))
    img.fill(44, 59, 268, 18, LCD)
    img.fill(44, 59, 268, 1, (10, 12, 16))
    img.fill(44, 59, 1, 18, (10, 12, 16))
    # speaker facing the volume ramp, in the gap between the label and the field's edge
    speaker = (140, 168, 184)
    img.fill(308, 66, 2, 4, speaker)
    img.fill(310, 65, 1, 6, speaker)
    img.fill(311, 63, 1, 10, speaker)

    # footer: credit line and the banner window
    img.fill(3, 80, 348, 1, (132, 134, 140))
    img.fill(3, 81, 348, 1, (240, 240, 244))
    engraved(img, 14, 86, "MADE BY THE PELLORA TEAM", (84, 86, 94), (232, 232, 236))
    img.bevel(266, 84, 76, 9, (112, 114, 120), (246, 246, 248))
    img.fill(267, 85, 74, 7, LCD)
    for sx, sy in ((6, 66), (346, 66), (6, 99), (346, 99)):
        img.cover(disc(sx + 0.5, sy + 0.5, 2.4), lambda x, y: mix((236, 236, 240), (120, 122, 130), (y - sy + 2) / 5))
        img.set(sx - 1, sy, (90, 92, 98))
        img.set(sx, sy, (90, 92, 98))
        img.set(sx + 1, sy, (90, 92, 98))
    return img


def picture(w, text, colour, bg=LCD):
    """A 5 px tall indicator or banner: the text left-aligned after one column of background."""
    img = Image(w, 5, bg)
    if text_width(SMALL, text) + 1 > w:
        raise ValueError("%r does not fit %d px" % (text, w))
    draw_text(img, 1, 0, text, colour)
    return img


# --- icons and cursor -------------------------------------------------------------------------

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def radio(size, waves):
    """A small radio whose antenna sends `waves` arcs out to both sides; drawn on a 16-unit grid."""
    k = size / 16
    img = Image(size, size, None)
    body = lambda u, v: 0.5 <= u < 15.5 and 8.5 <= v < 15.5
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / k, (y + 0.5) / k
            if not body(u, v):
                continue
            if any(not body((x + dx + 0.5) / k, (y + dy + 0.5) / k) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                c = 0
            elif v < 10.5:
                c = 9
            elif 2.5 <= u < 6.5 and 11 <= v < 14.5:
                c = 0 if (x + y) % 2 else 8
            elif 8.5 <= u < 13.5 and 11 <= v < 12.5:
                c = 0 if 10.5 <= u < 11.5 else 11
            elif v >= 13 and v < 14 + (k > 1) * 0.5 and (9 <= u < 10 + (k > 1) or 12 <= u < 13 + (k > 1)):
                c = 15
            else:
                c = 1
            img.set(x, y, VGA[c])
    tipx, tipy = 8.0 * k, 4.0 * k
    line = seg(11.5 * k, 8.6 * k, tipx, tipy, 0.5 * max(1.0, 0.75 * k))
    ball = disc(tipx, tipy, 1.1 * k)
    for y in range(size):
        for x in range(size):
            if img.get(x, y) is not None:
                continue
            px, py = x + 0.5, y + 0.5
            if ball(px, py):
                img.set(x, y, VGA[9])
            elif line(px, py):
                img.set(x, y, VGA[0])
            else:
                d = math.hypot(px - tipx, py - tipy)
                a = math.degrees(math.atan2(py - tipy, px - tipx)) % 180
                if min(a, 180 - a) <= 42 and py < 8 * k:
                    for n in range(waves):
                        if abs(d - (3.1 + 2.2 * n) * k) <= 0.5 * max(1.0, 0.8 * k):
                            img.set(x, y, VGA[12])
    return img


def ico_image(img):
    """One 4 bpp icon image: header, 16-colour palette, colour bits, AND mask."""
    w, h = img.w, img.h
    xor_row = ((w * 4 + 31) // 32) * 4
    and_row = ((w + 31) // 32) * 4
    out = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, (xor_row + and_row) * h, 0, 0, 16, 0)
    out += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    xor, mask = b"", b""
    for y in range(h - 1, -1, -1):
        row = bytearray(xor_row)
        mrow = bytearray(and_row)
        for x in range(w):
            c = img.get(x, y)
            if c is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
                idx = 0
            else:
                idx = VGA.index(c)
            row[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        xor += bytes(row)
        mask += bytes(mrow)
    return out + xor + mask


def ico_file(images):
    blobs = [ico_image(im) for im in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for im, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", im.w % 256, im.h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


HOTSPOT = (13, 9)


def hand():
    """32x32 pointing hand as black and white pixel sets; the index fingertip's top row is y 9."""
    thumb = seg(6.0, 18.8, 11.0, 23.5, 2.4)

    def inside(x, y):
        for x0, x1, top in ((11, 15, 9), (15, 19, 14), (19, 23, 15), (23, 27, 17)):
            if x0 <= x <= x1 and top <= y <= 21:
                return not (y == top and x in (x0, x1))
        if 9 <= x <= 27 and 20 <= y <= 27:
            return not (y == 27 and x in (9, 27))
        # the thumb reaches out to the left from the palm
        if thumb(x + 0.5, y + 0.5):
            return True
        return 11 <= x <= 26 and 28 <= y <= 31
    black, white = set(), set()
    for y in range(32):
        for x in range(32):
            if inside(x, y):
                edge = any(not inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                (black if edge else white).add((x, y))
    # creases between the fingers and the cuff seam
    creases = [(15, y) for y in range(14, 20)] + [(19, y) for y in range(15, 20)] + [(23, y) for y in range(17, 21)]
    creases += [(x, 28) for x in range(11, 27)]
    for p in creases:
        white.discard(p)
        black.add(p)
    return black, white


def cur_file():
    black, white = hand()
    xor_row = and_row = 4
    xor, mask = b"", b""
    for y in range(31, -1, -1):
        row, mrow = bytearray(4), bytearray(4)
        for x in range(32):
            if (x, y) in white:
                row[x // 8] |= 0x80 >> (x % 8)
            elif (x, y) not in black:
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(row)
        mask += bytes(mrow)
    image = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 1, 0, (xor_row + and_row) * 32, 0, 0, 2, 0)
    image += struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0) + xor + mask
    head = struct.pack("<HHH", 0, 2, 1)
    head += struct.pack("<BBBBHHII", 32, 32, 2, 0, HOTSPOT[0], HOTSPOT[1], len(image), 6 + 16)
    return head + image


def cursor_image():
    black, white = hand()
    img = Image(32, 32, None)
    for p in black:
        img.set(p[0], p[1], (0, 0, 0))
    for p in white:
        img.set(p[0], p[1], (255, 255, 255))
    return img


# --- writers ----------------------------------------------------------------------------------

def bmp_bytes(img):
    row = (img.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(img.h - 1, -1, -1):
        line = bytearray()
        for r, g, b in img.px[y]:
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    head = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, img.w, img.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return head + info + bytes(data)


def png_bytes(img):
    raw = b"".join(b"\0" + bytes(v for c in row for v in c) for row in img.px)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", img.w, img.h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def flatten(img, bg):
    """Transparent pixels shown on a checker so icons and the cursor read in the preview."""
    out = Image(img.w, img.h, bg)
    for y in range(img.h):
        for x in range(img.w):
            c = img.get(x, y)
            out.set(x, y, c if c is not None else ((214, 220, 228) if (x // 2 + y // 2) % 2 else (240, 242, 246)))
    return out


def preview(pics, skin, icons, cursor, scale=3):
    face = Image(skin.w, skin.h, PANEL)
    face.blit(skin, 0, 0)
    face.blit(pics["disconnected.bmp"], 14, 42)
    face.blit(pics["ramp.bmp"], 313, 62)
    face.blit(pics["knob.bmp"], 313 + 20, 62)
    face.blit(pics["banner1.bmp"], 268, 86)
    face.blit(pics["lamp.bmp"], 160, 27)
    face = face.scaled(scale)
    others = [pics[n] for n in ("disconnected.bmp", "connecting.bmp", "connected.bmp", "banner0.bmp",
                                "banner1.bmp", "banner2.bmp", "banner3.bmp", "blank.bmp",
                                "close_pressed.bmp", "min_pressed.bmp", "lamp.bmp", "ramp.bmp", "knob.bmp")]
    others += [flatten(i, PANEL) for i in icons] + [flatten(cursor, PANEL)]
    strip = []
    x, y, line_h = 8, 8, 0
    for p in others:
        s = p.scaled(scale)
        if x + s.w + 8 > face.w:
            x, y, line_h = 8, y + line_h + 8, 0
        strip.append((s, x, y))
        x += s.w + 12
        line_h = max(line_h, s.h)
    out = Image(face.w, face.h + y + line_h + 8, (96, 100, 108))
    out.blit(face, 0, 0)
    for s, sx, sy in strip:
        out.blit(s, sx, face.h + sy)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("outdir")
    ap.add_argument("--preview", metavar="PNGFILE")
    args = ap.parse_args()
    os.makedirs(args.outdir, exist_ok=True)

    blank = draw_box(False)
    pics = {"blank.bmp": blank, "close_pressed.bmp": draw_box(True, "close"),
            "min_pressed.bmp": draw_box(True, "min"), "lamp.bmp": draw_lamp(),
            "ramp.bmp": draw_ramp(), "knob.bmp": draw_knob()}
    for name, w, text, colour in INDICATORS + BANNERS:
        pics[name] = picture(w, text, colour)
    skin = draw_skin(blank)
    pics["skin.bmp"] = skin
    for name, img in pics.items():
        with open(os.path.join(args.outdir, name), "wb") as f:
            f.write(bmp_bytes(img))

    frames = [radio(16, n) for n in range(3)]
    for n, frame in enumerate(frames):
        with open(os.path.join(args.outdir, "tray%d.ico" % n), "wb") as f:
            f.write(ico_file([frame]))
    big = radio(32, 2)
    with open(os.path.join(args.outdir, "pelradio.ico"), "wb") as f:
        f.write(ico_file([radio(16, 2), big]))
    with open(os.path.join(args.outdir, "hand.cur"), "wb") as f:
        f.write(cur_file())

    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(png_bytes(preview(pics, skin, frames + [big], cursor_image())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
