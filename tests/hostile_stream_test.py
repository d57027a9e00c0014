"""Hostile streams played through icycat --play: each must end cleanly within its time limit.

Every file in tests/hostile is a server's whole answer (gzip'd): the status line, the header
block and the body. It is served once on loopback, after the request has been read, and the
connection is then closed.
"""
import gzip
import os
import socket
import subprocess
import threading
import time

from harness import BUILD_DIR, SOURCE_DIR, WINE_RUN, Checks

HOSTILE_DIR = os.path.join(SOURCE_DIR, "tests", "hostile")
ICYCAT = os.path.join(BUILD_DIR, "tools", "icycat.exe")
SECONDS = 4
PACE_BYTES = 8192
PACE_SECONDS = 0.125


def serve_once(answer, lifetime):
    """Listens on a free loopback port; sends `answer` to the first client, then closes. Stops by itself."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(lifetime)

    def run():
        try:
            conn, _ = listener.accept()
            with conn:
                conn.settimeout(5)
                request = b""
                while b"\r\n\r\n" not in request:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    request += chunk
                # Paced like a fast station (64 KiB/s): a whole answer at once would end the
                # reader before the decoder saw most of it.
                head = answer.index(b"\r\n\r\n") + 4
                conn.sendall(answer[:head])
                for at in range(head, len(answer), PACE_BYTES):
                    conn.sendall(answer[at:at + PACE_BYTES])
                    time.sleep(PACE_SECONDS)
        except OSError:
            pass
        finally:
            listener.close()

    threading.Thread(target=run, daemon=True).start()
    return listener.getsockname()[1]


def main():
    c = Checks()
    names = sorted(n for n in os.listdir(HOSTILE_DIR) if n.endswith(".icy.gz"))
    c.check(len(names) >= 2, "hostile inputs found: %d" % len(names))
    for name in names:
        answer = gzip.open(os.path.join(HOSTILE_DIR, name)).read()
        port = serve_once(answer, lifetime=SECONDS + 20)
        started = time.monotonic()
        try:
            done = subprocess.run([WINE_RUN, ICYCAT, "--play", "http://127.0.0.1:%d/" % port,
                                   "--seconds", str(SECONDS)],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=SECONDS + 20)
            code = done.returncode
        except subprocess.TimeoutExpired:
            code = None
        took = time.monotonic() - started
        # Wine's start-up adds up to about 2.5 s to the program's own limit.
        c.check(code == 0 and took < SECONDS + 2 + 2.5,
                "%s ends cleanly: exit %s after %.1f s" % (name, code, took))
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
