"""icycat against a real icecast2 server fed by ffmpeg: a title set through the admin
interface arrives as a METADATA report."""
import sys

from harness import Checks, run_windows
from icecast import FEED_NAME, available, free_port, icecast


def main():
    c = Checks()
    if not available():
        print("icecast2 or ffmpeg missing")
        return 1
    port = free_port()
    with icecast(port) as server:
        c.check(server.wait_live(), "icecast2 serves the mount")

        # Set the title a few times while icycat listens, so one lands after it connected.
        with server.titles("Loopback Artist - Admin Title"):
            code, lines = run_windows("tools/icycat.exe", "http://127.0.0.1:%d/radio.mp3" % port, "--seconds", "6")
        c.check(code == 0, "icycat exits 0")
        c.check("METADATA " + FEED_NAME in lines, "the icy-name header arrives: %r" % lines[:3])
        c.check("METADATA Loopback Artist - Admin Title" in lines, "the admin title arrives in the stream")
        c.check(not [l for l in lines if l.startswith("MESSAGE ")], "no status text")

        # Today's titles are UTF-8 (urlencode sends the admin interface UTF-8): the control's
        # container reads them as the same text.
        title = "노래 - 가수 ♪"
        with server.titles(title):
            code, lines = run_windows("tools/kelplay.exe", "http://127.0.0.1:%d/radio.mp3" % port, "--seconds", "6")
        c.check("ChangeMetadata " + title in lines, "a UTF-8 title set through icecast's admin reaches the "
                "control's container as sent: %r" % [l for l in lines if l.startswith("ChangeMetadata")][:4])
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
