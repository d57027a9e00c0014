"""Writes the control's toolbox image: a 16 by 15, 4 bits per pixel bitmap of a small radio."""
import struct
import sys

WIDTH, HEIGHT = 16, 15
# The 16 standard VGA colours.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# Top row first; '.' is the light grey background, the digits are palette indexes in hex.
ART = [
    "................",
    "..........0.....",
    "...........0....",
    "............0...",
    ".000000000000000",
    ".0888888888888880",
    ".08ff88884444480",
    ".08ff88884bbb480",
    ".08ff88884444480",
    ".0888888888888880",
    ".08ff8889889880.",
    ".0888888888888880",
    ".000000000000000",
    "................",
    "................",
]


def main(path):
    rows = []
    for line in reversed(ART):  # bitmaps store the bottom row first
        line = (line + "." * WIDTH)[:WIDTH]
        idx = [7 if ch == "." else int(ch, 16) for ch in line]
        packed = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, WIDTH, 2))
        rows.append(packed + b"\0" * (-len(packed) % 4))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 0, 0, 16, 0)
    with open(path, "wb") as out:
        out.write(header + info + palette + pixels)


if __name__ == "__main__":
    main(sys.argv[1])
