"""Recording through a real icecast2 server on pelradio's stream port: its "HTTP/1.0 200 OK" answer is
taken, and the file holds the fed stream's MP3 frames."""
import os
import socket
import sys
import time

from harness import STATION_MP3
from icecast import available, icecast
from pelradio import STREAM_PORT
from recorder_support import RECORD_AT, decodes, read, recorder, recordings, run


def root_answer():
    """The first bytes icecast answers to pelradio's very request."""
    with socket.create_connection(("127.0.0.1", STREAM_PORT), timeout=5) as s:
        s.sendall(b"GET / HTTP/1.0\r\n\r\n")
        return s.recv(64)


def test(c, work):
    folder = os.path.join(work, "records")
    os.makedirs(folder)
    # pelradio asks for "/": the alias maps it to the fed mount.
    with icecast(STREAM_PORT, "/radio.mp3", alias="/") as server:
        c.check(server.wait_live(), "icecast2 serves the mount")
        answer = root_answer()
        c.check(answer.startswith(b"HTTP/1.0 200"), "icecast answers / with the stream: %r" % answer[:20])

        player = recorder(work, folder)
        c.check(player.window is not None, "the window appears")
        player.tap(*RECORD_AT)
        time.sleep(4)
        c.check(player.state()[0] in ([1], []), "still recording after 4 s")
        player.tap(*RECORD_AT)
        c.check(player.wait_state([2], False), "banner 2 after the stop: %r" % (player.state(),))
        files = recordings(folder)
        c.check(len(files) == 1, "one file")
        if files:
            data = read(files[0])
            ok, seconds, errors = decodes(files[0])
            c.check(ok and seconds > 3.0,
                    "it decodes as MP3: %d bytes, %.1f s %s" % (len(data), seconds, errors[:200]))
            source = read(STATION_MP3)
            # ffmpeg copies the frames unchanged: pieces from the file's middle are pieces of the fed file.
            pieces = [data[i:i + 2048] for i in range(len(data) // 4, len(data) * 3 // 4, len(data) // 8)]
            found = sum(1 for p in pieces if p in source)
            c.check(len(data) > 40000 and found == len(pieces),
                    "%d of %d pieces of the recording are the fed stream's bytes" % (found, len(pieces)))
        c.check(player.close(), "the program ends")


def main():
    if not available():
        print("icecast2 or ffmpeg missing")
        return 1
    return run(test)


if __name__ == "__main__":
    sys.exit(main())
