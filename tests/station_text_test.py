"""Station names and titles reach containers as the text the station meant: UTF-8 where the
bytes are UTF-8 (today's servers), the listener's code page 949 otherwise (stations of old)."""
import os
import sys

from harness import Checks, Station, run_windows

KELPLAY = os.path.join("tools", "kelplay.exe")
ICYCAT = os.path.join("tools", "icycat.exe")
UTF8_TITLES = ["노래 - 가수 ♪", "Plain ASCII"]
CP949_TITLES = ["가요 - 노래", "똠방각하 - 쀍"]  # the second is outside EUC-KR, inside 949


def texts(lines, prefix):
    return [l[len(prefix):] for l in lines if l.startswith(prefix)]


def main():
    c = Checks()
    with Station("--utf8", "--name", "라디오 UTF", "--titles", "|".join(UTF8_TITLES), "--title-seconds", "1") as station:
        _, lines = run_windows(KELPLAY, station.url, "--seconds", "5")
        meta = texts(lines, "ChangeMetadata ")
        c.check(meta[:1] == ["라디오 UTF"], "a UTF-8 station name reaches kelplay as sent: %r" % meta[:1])
        for title in UTF8_TITLES:
            c.check(title in meta, "the title %r reaches kelplay as sent: %r" % (title, meta[:6]))
        _, lines = run_windows(ICYCAT, station.url, "--seconds", "3")
        c.check(UTF8_TITLES[0] in texts(lines, "METADATA "), "and icycat prints it right")

    with Station("--name", "라디오 949", "--titles", "|".join(CP949_TITLES), "--title-seconds", "1") as station:
        _, lines = run_windows(KELPLAY, station.url, "--seconds", "5")
        meta = texts(lines, "ChangeMetadata ")
        c.check(meta[:1] == ["라디오 949"], "a code page 949 name is unchanged: %r" % meta[:1])
        for title in CP949_TITLES:
            c.check(title in meta, "the 949 title %r is unchanged: %r" % (title, meta[:6]))
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
