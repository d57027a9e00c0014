"""A station's title with line ends and other control bytes cannot forge lines of icycat or kelplay."""
import sys

from harness import Checks, Station, run_windows

# A title that, printed raw, would read as the end of the stream and an impossible buffer fill.
EVIL = "evil\r\nEND\r\nBUFFER 999\x01\tx"
ESCAPED = "evil\\r\\nEND\\r\\nBUFFER 999\\x01\\tx"


def forged(lines):
    return [line for line in lines if line in ("END", "BUFFER 999", "ChangeMetadata END")]


def main():
    c = Checks()
    tools = sys.argv[1:] or ["icycat", "kelplay"]
    with Station("--titles", EVIL, "--title-seconds", "1", "--metaint", "4000", lifetime=40) as station:
        if "icycat" in tools:
            code, lines = run_windows("tools/icycat.exe", station.url, "--seconds", "4")
            c.check(code == 0, "icycat exit %s" % code)
            c.check("METADATA " + ESCAPED in lines, "icycat prints the title escaped")
            c.check(not forged(lines), "icycat prints no forged line: %s" % forged(lines))
        if "kelplay" in tools:
            code, lines = run_windows("tools/kelplay.exe", station.url, "--seconds", "4")
            c.check(code == 0, "kelplay exit %s" % code)
            c.check("ChangeMetadata " + ESCAPED in lines, "kelplay prints the title escaped")
            c.check(not forged(lines), "kelplay prints no forged line: %s" % forged(lines))
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
