#!/usr/bin/env python3
"""The bundled local station: a loopback ICY server that loops an MP3 file.

It answers like a small radio server ("ICY 200 OK", icy-name, icy-metaint with rotating
StreamTitle blocks) and can be told to misbehave, so the player can be tried against
redirects, error answers, silence, dropped connections and oversized headers.
With --pls it also hands out a PLS playlist whose entries point back at itself.
It listens on 127.0.0.1 only and stops by itself after --lifetime seconds.
"""
import argparse
import socketserver
import sys
import threading
import time

DEFAULT_TITLES = ["Pellora - Morning Tone", "펠로라 - 저녁의 노래", "Test Card - 440 Hz"]


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--mp3", required=True, help="MP3 file to loop")
    p.add_argument("--port", type=int, default=11000, help="0 picks a free port")
    p.add_argument("--name", default="Pellora Local", help="icy-name value")
    p.add_argument("--titles", default="|".join(DEFAULT_TITLES), help="titles separated by |")
    p.add_argument("--title-seconds", type=float, default=5.0, help="seconds per title")
    p.add_argument("--metaint", type=int, default=8192, help="0 sends no metadata")
    p.add_argument("--kbps", type=int, default=128, help="pace of the stream; 0 sends as fast as possible")
    p.add_argument("--burst", type=int, default=65536, help="bytes sent at once after the header")
    p.add_argument("--http", action="store_true", help='answer "HTTP/1.0 200 OK" instead of "ICY 200 OK"')
    p.add_argument("--redirect", help="answer 302 with this Location")
    p.add_argument("--status", help='answer this status line instead, e.g. "404 Not Found"')
    p.add_argument("--silence", action="store_true", help="accept connections and never answer")
    p.add_argument("--close-after", type=int, default=0, help="close after this many audio bytes")
    p.add_argument("--oversized-header", action="store_true", help="send a header block without an end")
    p.add_argument("--pls", action="store_true",
                   help='answer GET paths ending in ".pls" with a playlist of this station\'s / and /live')
    p.add_argument("--lifetime", type=float, default=600.0, help="seconds until the server stops")
    return p.parse_args(argv)


class Station:
    def __init__(self, args):
        self.args = args
        with open(args.mp3, "rb") as f:
            self.audio = f.read()
        self.titles = [t.encode("cp949") for t in args.titles.split("|") if t]
        self.started = time.monotonic()

    def current_title(self):
        if not self.titles:
            return b""
        index = int((time.monotonic() - self.started) / self.args.title_seconds)
        return self.titles[index % len(self.titles)]

    def header(self):
        a = self.args
        if a.redirect:
            return b"HTTP/1.0 302 Found\r\nLocation: " + a.redirect.encode() + b"\r\n\r\n"
        if a.status:
            return b"HTTP/1.0 " + a.status.encode() + b"\r\nContent-Type: text/html\r\n\r\n"
        if a.oversized_header:
            return b"ICY 200 OK\r\n" + b"".join(b"icy-notice%d: filler\r\n" % i for i in range(400))
        lines = [b"HTTP/1.0 200 OK" if a.http else b"ICY 200 OK",
                 b"icy-name:" + a.name.encode("cp949"),
                 b"icy-genre:Test",
                 b"content-type:audio/mpeg",
                 b"icy-br:%d" % (a.kbps or 128)]
        if a.metaint:
            lines.append(b"icy-metaint:%d" % a.metaint)
        return b"\r\n".join(lines) + b"\r\n\r\n"

    def playlist(self, port):
        base = "http://127.0.0.1:%d/" % port
        lines = ["[playlist]", "NumberOfEntries=2",
                 "File1=" + base, "Title1=" + self.args.name, "Length1=-1",
                 "File2=" + base + "live", "Title2=" + self.args.name + " (live)", "Length2=-1",
                 "Version=2"]
        body = ("\r\n".join(lines) + "\r\n").encode("cp949")
        return (b"HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\nContent-Length: %d\r\n\r\n" % len(body)) + body

    def metadata_block(self, last_title):
        title = self.current_title()
        if title == last_title:
            return b"\0", last_title
        text = b"StreamTitle='" + title + b"';"
        length = (len(text) + 15) // 16
        return bytes([length]) + text.ljust(16 * length, b"\0"), title

    def audio_bytes(self):
        """Endless audio, looping the file."""
        pos = 0
        while True:
            piece = self.audio[pos:pos + 4096]
            pos = (pos + len(piece)) % len(self.audio)
            yield piece


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        station = self.server.station
        a = station.args
        sock = self.request
        sock.settimeout(5)
        try:
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 8192:
                piece = sock.recv(4096)
                if not piece:
                    return
                request += piece
            path = request.split(b" ", 2)[1] if request.startswith(b"GET ") else b""
            if a.pls and path.lower().endswith(b".pls"):
                sock.sendall(station.playlist(self.server.server_address[1]))
                return
            if a.silence:
                while not self.server.stopping.wait(0.1):
                    pass
                return
            sock.sendall(station.header())
            if a.redirect or a.oversized_header:
                return
            if a.status:
                sock.sendall(b"<html><body>" + a.status.encode() + b"</body></html>")
                return
            self.stream(sock, station, a)
        except OSError:
            pass

    def stream(self, sock, station, a):
        rate = a.kbps * 1000 / 8
        sent = 0
        since_meta = 0
        last_title = None
        begun = time.monotonic()
        for piece in station.audio_bytes():
            while piece:
                if self.server.stopping.is_set():
                    return
                take = len(piece)
                if a.metaint:
                    take = min(take, a.metaint - since_meta)
                if a.close_after:
                    take = min(take, a.close_after - sent)
                    if take <= 0:
                        return
                sock.sendall(piece[:take])
                piece = piece[take:]
                sent += take
                since_meta += take
                if a.metaint and since_meta == a.metaint:
                    block, last_title = station.metadata_block(last_title)
                    sock.sendall(block)
                    since_meta = 0
                if rate and sent > a.burst:
                    ahead = (sent - a.burst) / rate - (time.monotonic() - begun)
                    if ahead > 0:
                        time.sleep(ahead)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv):
    args = parse_args(argv)
    server = Server(("127.0.0.1", args.port), Handler)
    server.station = Station(args)
    server.stopping = threading.Event()
    print("PORT %d" % server.server_address[1], flush=True)
    timer = threading.Timer(args.lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    server.stopping.set()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
