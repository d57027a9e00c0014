"""kelplay, our console container, against the bundled station and a one-shot page."""
import http.server
import os
import shutil
import subprocess
import tempfile
import threading
import time

from harness import BUILD_DIR, Checks, Station, WINE_RUN, run_windows, utf8_copy

KELPLAY = os.path.join("tools", "kelplay.exe")


class CountPage:
    """A one-shot page on loopback: its body is a listener count."""

    def __init__(self, body):
        payload = body.encode("utf-8")

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.end_headers()
                self.wfile.write(payload)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/count" % self.server.server_port
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()


def run_with_input(text, *args, timeout=60):
    done = subprocess.run([WINE_RUN, os.path.join(BUILD_DIR, KELPLAY), *args], input=text.encode("utf-8"),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()


def main():
    c = Checks()
    with Station("--title-seconds", "1") as station:
        code, lines = run_windows(KELPLAY, station.url, "--seconds", "6")
        c.check(code == 0, "kelplay exits 0 after --seconds")
        meta = [l[len("ChangeMetadata "):] for l in lines if l.startswith("ChangeMetadata ")]
        c.check(meta[:1] == ["Pellora Local"], "the station name comes first: %r" % meta[:3])
        c.check("Pellora - Morning Tone" in meta, "a title arrives: %r" % meta[:5])
        c.check("펠로라 - 저녁의 노래" in meta, "a code page 949 title arrives as UTF-8")
        fills = [int(l.split()[1]) for l in lines if l.startswith("ChangeBufferState ")]
        c.check(fills and all(0 <= f <= 100 for f in fills) and max(fills) > 0,
                "buffer fill is read in the handler: %r" % fills[:5])

    page = CountPage("1234 listeners")
    try:
        code, lines = run_with_input("volume 30\nvolume\ncount %s\nquit\n" % page.url)
        c.check(code == 0, "kelplay ends on quit")
        c.check("volume 30" in lines, "volume reads back what was set: %r" % lines)
        c.check("getCount 14" in lines and "1234 listeners" in lines, "count prints the length and the body")
    finally:
        page.close()

    code, lines = run_with_input("count ftp://nowhere\nquit\n")
    c.check("ChangeMetadata 올바른 주소 형식이 아닙니다. 바른 형식: http://<host name>:[port][/path]." in lines,
            "a bad count address is reported through ChangeMetadata")
    c.check("getCount 0" in lines, "and gives an empty body")

    # A list's address that answers with an error page: its status is told and nothing is played,
    # no entry is made of the page's lines.
    with tempfile.TemporaryDirectory() as sent, \
            Station("--status", "404 Not Found", "--record-sent", sent) as station:
        code, lines = run_windows(KELPLAY, station.url + "lists/radio.m3u", "--seconds", "3")
        meta = [l[len("ChangeMetadata "):] for l in lines if l.startswith("ChangeMetadata ")]
        c.check(meta[:1] == ["청취 불가: Not Found"], "an M3U list answering 404 tells why: %r" % meta[:3])
        requests = sorted(f for f in os.listdir(sent) if f.endswith(".request"))
        c.check(len(requests) == 1, "and nothing but the list is asked for: %d requests" % len(requests))

    # A list's http address redirected to https: fetched over TLS, its relative entries resolved
    # there, and played.
    certs = os.path.join(os.environ["TESTENV_ROOT"], "certs")
    with Station("--tls", os.path.join(certs, "station"), "--pls") as lists:
        with Station("--redirect", "https://127.0.0.1:%d/listen.m3u" % lists.port) as plain:
            code, lines = run_windows(KELPLAY, plain.url + "listen.m3u", "--seconds", "4")
        meta = [l[len("ChangeMetadata "):] for l in lines if l.startswith("ChangeMetadata ")]
        c.check("Pellora Local" in meta, "an http M3U list redirected to https plays: %r" % meta[:3])

    # Nothing listens on port 1: every attempt fails and the control tries again until stopped.
    code, lines = run_windows(KELPLAY, "http://127.0.0.1:1/", "--seconds", "4")
    failures = [l for l in lines if l.startswith("ChangeMetadata ")]
    c.check(len(failures) >= 2, "an unreachable station is tried again: %d texts" % len(failures))

    # Quitting while a stream plays ends the process promptly.
    with Station() as station:
        proc = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, KELPLAY), station.url],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = proc.stdout.readline()
        time.sleep(2)
        start = time.monotonic()
        proc.stdin.write(b"quit\n")
        proc.stdin.flush()
        proc.wait(timeout=30)
        c.check(first.startswith(b"Change"), "events came while playing")
        c.check(time.monotonic() - start < 3, "quit while playing ends within seconds")
    # On a system whose code page is not 949 (English: 1252) the control's own Korean texts still
    # reach the container right: they are code page 949 bytes whatever the system's code page.
    # The same under the UTF-8 code page (65001), which a program's manifest gets from Wine.
    os.environ["TESTENV_LOCALE"] = "en_US.UTF-8"
    folder = tempfile.mkdtemp(prefix="kelplay-utf8-")
    try:
        for exe, system in ((KELPLAY, "an English code page"), (utf8_copy(KELPLAY, folder), "the UTF-8 code page")):
            with Station("--status", "404 Not Found") as station:
                code, lines = run_windows(exe, station.url, "--seconds", "2")
            c.check("ChangeMetadata 청취 불가: Not Found" in lines,
                    "a status text reads right under %s: %r" % (system, lines[:2]))
    finally:
        del os.environ["TESTENV_LOCALE"]
        shutil.rmtree(folder, ignore_errors=True)
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
