"""icycat against the bundled station: whole streams, titles, and each way the station misbehaves."""
import os
import sys
import tempfile

from harness import Checks, Station, STATION_MP3, run_windows

ICYCAT = os.path.join("tools", "icycat.exe")


def main():
    c = Checks()
    audio = open(STATION_MP3, "rb").read()

    with Station("--title-seconds", "1", "--kbps", "0") as good, tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.mp3")
        code, lines = run_windows(ICYCAT, good.url, "--seconds", "4", "--out", out)
        c.check(code == 0, "icycat exits 0")
        meta = [l[len("METADATA "):] for l in lines if l.startswith("METADATA ")]
        c.check(meta[:1] == ["Pellora Local"], "the station name comes first: %r" % meta[:1])
        c.check("펠로라 - 저녁의 노래" in meta, "a code page 949 title arrives as UTF-8: %r" % meta[:4])
        c.check("Pellora - Morning Tone" in meta, "the first title arrives")
        fills = [int(l.split()[1]) for l in lines if l.startswith("BUFFER ")]
        c.check(fills and all(0 <= f <= 100 for f in fills), "buffer fill reported in percent")
        c.check(not [l for l in lines if l.startswith("MESSAGE ")], "no status text on a good stream")
        data = open(out, "rb").read() if os.path.exists(out) else b""
        looped = audio * (len(data) // len(audio) + 2)
        c.check(len(data) >= 32768 and looped[:len(data)] == data,
                "the saved audio is the station's stream byte for byte (%d bytes)" % len(data))

        # A redirect to the good station is followed.
        with Station("--redirect", good.url + "live") as mover:
            code, lines = run_windows(ICYCAT, mover.url, "--seconds", "3")
            c.check("METADATA Pellora Local" in lines, "a 302 leads to the station")

    with Station("--status", "404 Not Found") as missing:
        code, lines = run_windows(ICYCAT, missing.url, "--seconds", "5")
        c.check("MESSAGE 3 청취 불가: Not Found" in lines, "404 gives its reason at level 3")
        c.check(lines[-1:] == ["END"], "the stream ends after a 404")

    # The reader calls again behind the puller's back; the station has gone away, and the puller,
    # taking every byte at once, soon finds the ring dry.
    with Station("--close-after", "50000", "--kbps", "0", "--once") as short:
        code, lines = run_windows(ICYCAT, short.url, "--seconds", "5")
        c.check("MESSAGE 1 연결이 종료되었습니다." in lines, "a closed connection gives the level-1 text")
        # The stream's last fill report (0, from the reader's end) may still be on its way when
        # the puller sees the end: it can follow END, nothing else can.
        after_end = lines[lines.index("END") + 1:] if "END" in lines else None
        c.check(after_end is not None and all(l == "BUFFER 0" for l in after_end),
                "Read returns 0 once the server has closed and the ring has run dry: %r" % lines[-3:])

    with Station("--oversized-header") as big:
        code, lines = run_windows(ICYCAT, big.url, "--seconds", "5")
        c.check("MESSAGE 3 서버가 올바르지 못한 응답을 해왔습니다. 주소를 확인해 보십시오." in lines,
                "a header without an end gives the bad-response text")

    with Station("--silence") as quiet:
        code, lines = run_windows(ICYCAT, quiet.url, "--seconds", "2")
        c.check(code == 0 and "END" not in lines, "a silent server is waited for until the time is up")

    with Station("--metaint", "700", "--title-seconds", "0.5", "--kbps", "0") as chatty, \
            tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.mp3")
        code, lines = run_windows(ICYCAT, chatty.url, "--seconds", "3", "--out", out)
        data = open(out, "rb").read() if os.path.exists(out) else b""
        looped = audio * (len(data) // len(audio) + 2)
        c.check(len(data) > 0 and looped[:len(data)] == data, "a short interval cuts every block at its byte")

    code, lines = run_windows(ICYCAT, "HTTP://127.0.0.1:1/", "--seconds", "3")
    c.check("MESSAGE 3 올바른 주소 형식이 아닙니다. 바른 형식: http://<host name>:[port][/path]." in lines,
            "capital letters in the scheme give the bad-address text: %r" % lines)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
