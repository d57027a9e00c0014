#!/usr/bin/env python3
"""The bundled local station: a loopback ICY server that loops an MP3 file (or, with --aac, an
AAC file of ADTS frames, labelled audio/aacp as AAC stations label theirs).

It answers like a small radio server ("ICY 200 OK", icy-name, and icy-metaint with rotating
StreamTitle blocks for clients that send "Icy-MetaData: 1") and can be told to misbehave, so the player can be tried against
redirects, error answers, silence, dropped connections and oversized headers.
With --pls it also hands out a PLS playlist whose entries point back at itself.
With --hls FORM it is an HLS station instead (tools/hls_station.py): a live window of segments
made at build time, a master list at / and at /live.m3u8.
A second socket, the site port, serves the station's small web site in code page 949: the
now-playing page (/gasaview.html) with the title the stream carries at that moment, the
song-request page, the home page and the makers' page.
It listens on 127.0.0.1 only and stops by itself after --lifetime seconds; it prints
"PORT n" and then "SITE_PORT n" once both sockets listen.
"""
import argparse
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

import hls_station

DEFAULT_TITLES = ["Pellora - Morning Tone", "펠로라 - 저녁의 노래", "Test Card - 440 Hz"]
TRICKLE_PIECE = 200  # bytes
TRICKLE_PAUSE = 0.05  # seconds
# The now-playing page's cell: the desktop player takes the title from after this to "</td>".
TITLE_MARKER = "재생중인 노래명&nbsp;:&nbsp;"


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--mp3", help="MP3 file to loop (not needed with --hls)")
    p.add_argument("--aac", metavar="FILE", help="loop this AAC (ADTS) file instead, labelled audio/aacp")
    p.add_argument("--content-type", help='the stream\'s Content-Type (default audio/mpeg, or audio/aacp with '
                   '--aac); "none" sends no such line, as some servers do')
    p.add_argument("--port", type=int, default=11000, help="stream port; 0 picks a free port")
    p.add_argument("--site-port", type=int,
                   help="web site port; 0 picks a free port (default: the stream port + 1, or a free port with --port 0)")
    p.add_argument("--name", default="Pellora Local", help="icy-name value")
    p.add_argument("--titles", default="|".join(DEFAULT_TITLES), help="titles separated by |")
    p.add_argument("--utf8", action="store_true",
                   help="send the name and the titles in UTF-8, as current servers do (default: code page 949)")
    p.add_argument("--title-seconds", type=float, default=5.0, help="seconds per title")
    p.add_argument("--metaint", type=int, default=8192, help="0 sends no metadata")
    p.add_argument("--kbps", type=int, default=128, help="pace of the stream; 0 sends as fast as possible")
    p.add_argument("--burst", type=int, default=65536, help="bytes sent at once after the header")
    p.add_argument("--trickle", type=int, default=0, metavar="BYTES",
                   help="send the first BYTES of audio in pieces of %d bytes every %d ms instead of the burst, "
                        "as a slow network delivers them, then pace as usual"
                        % (TRICKLE_PIECE, TRICKLE_PAUSE * 1000))
    p.add_argument("--http", action="store_true", help='answer "HTTP/1.0 200 OK" instead of "ICY 200 OK"')
    p.add_argument("--redirect", help="answer 302 with this Location")
    p.add_argument("--status", help='answer this status line instead, e.g. "404 Not Found"')
    p.add_argument("--icy-status", action="store_true", help='with --status: "ICY" instead of "HTTP/1.0" before it')
    p.add_argument("--silence", action="store_true", help="accept connections and never answer")
    p.add_argument("--close-after", type=int, default=0, help="close after this many audio bytes")
    p.add_argument("--drop-every", type=float, default=0, metavar="SECONDS",
                   help="close each stream connection this many seconds after it opened (the next is accepted "
                        "at once)")
    p.add_argument("--once", action="store_true",
                   help="serve one stream connection; close every later one before answering, as a station "
                        "that has gone away")
    p.add_argument("--live", action="store_true",
                   help="start each stream connection where the station's clock has come to in the file (its "
                        "burst the bytes before that), mid-frame, as a live station's listeners join; "
                        "not at the file's start")
    p.add_argument("--header-only", action="store_true", help="close right after the answer's header, before any audio")
    p.add_argument("--oversized-header", action="store_true",
                   help="send a header block without an end, then hold the connection silent")
    p.add_argument("--endless-header", action="store_true",
                   help="with --oversized-header: go on sending header lines (about 18 KB/s)")
    p.add_argument("--pls", action="store_true",
                   help='answer GET paths ending in ".pls" (or ".m3u", ".m3u8"; a query aside), and "/playlist" (or'
                        ' "/playlist-m3u") with a playlist of this station\'s / and /live; "/loop" with a list of itself')
    p.add_argument("--log-connections", action="store_true",
                   help="print OPEN <client port> and CLOSED <client port> for each stream connection, "
                        "HLS <path> for each request with --hls, and PAGE <path> for each request to the site")
    p.add_argument("--record-sent", metavar="DIR",
                   help="write each connection's request and every byte sent on it to DIR/conn-N.request and "
                        "DIR/conn-N.sent (N counts connections from 1)")
    p.add_argument("--tls", metavar="CERT",
                   help="speak TLS on the stream port with CERT.pem and CERT.key (an https station)")
    p.add_argument("--tls-max", choices=("1.1", "1.2", "1.3"),
                   help="with --tls: the newest protocol version offered (1.1 offers TLS 1.0 and 1.1 only)")
    p.add_argument("--record-sni", metavar="FILE",
                   help="with --tls: append to FILE, one line per handshake, the server name the client "
                        "sent, or - when it sent none")
    p.add_argument("--hls", metavar="FORM", choices=hls_station.FORMS,
                   help="serve HLS instead of a stream: a live window over the build's segments of this form (%s); "
                        "the master list is /live.m3u8, the audio variant's list /audio.m3u8"
                        % ", ".join(hls_station.FORMS))
    p.add_argument("--hls-media", metavar="DIR",
                   default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "x86_64", "media",
                                        "hls"),
                   help="the segments' folder (default: the x86_64 build's media/hls)")
    p.add_argument("--hls-endlist", action="store_true",
                   help="with --hls: a finished list, the segments once and #EXT-X-ENDLIST")
    p.add_argument("--hls-hostile", metavar="MODE", choices=hls_station.HOSTILE,
                   help="with --hls: self (the master names itself as its variant), endless (a list that grows "
                        "by %d entries a second, never sliding), ts-cc (wrong continuity counters), ts-pes-length "
                        "(PES lengths that lie), ts-garbage (junk between packets), slow (every third segment "
                        "trickles %d bytes a second), huge (a 10 MB media list), bad-key (a 15-byte key)"
                        % (hls_station.ENDLESS_GROWTH, hls_station.SLOW_PIECE))
    p.add_argument("--lifetime", type=float, default=600.0, help="seconds until both sockets stop")
    args = p.parse_args(argv)
    if not args.mp3 and not args.hls:
        p.error("--mp3 is required without --hls")
    if args.content_type is None:
        args.content_type = "audio/aacp" if args.aac else "audio/mpeg"
    if args.site_port is None:
        args.site_port = args.port + 1 if args.port else 0
    return args


class Station:
    def __init__(self, args):
        self.args = args
        self.audio = b""
        if args.aac or args.mp3:
            with open(args.aac or args.mp3, "rb") as f:
                self.audio = f.read()
        self.hls_mode = None
        if args.hls:
            self.hls_mode = hls_station.HlsStation(args.hls_media, args.hls, args.hls_hostile, args.hls_endlist)
        self.encoding = "utf-8" if args.utf8 else "cp949"
        self.titles = [t.encode(self.encoding) for t in args.titles.split("|") if t]
        self.started = time.monotonic()
        self.log_lock = threading.Lock()

    def log(self, line):
        """One line on stdout per stream connection opened and closed, HLS request or site page
        asked for, with --log-connections."""
        if self.args.log_connections:
            with self.log_lock:
                print(line, flush=True)

    def current_title(self):
        if self.hls_mode is not None:
            return self.hls_mode.live_title().encode(self.encoding)
        if not self.titles:
            return b""
        index = int((time.monotonic() - self.started) / self.args.title_seconds)
        return self.titles[index % len(self.titles)]

    def header(self, metadata):
        a = self.args
        if a.redirect:
            return b"HTTP/1.0 302 Found\r\nLocation: " + a.redirect.encode() + b"\r\n\r\n"
        if a.status:
            return (b"ICY " if a.icy_status else b"HTTP/1.0 ") + a.status.encode() + b"\r\nContent-Type: text/html\r\n\r\n"
        if a.oversized_header:
            return b"ICY 200 OK\r\n" + b"".join(b"icy-notice%d: filler\r\n" % i for i in range(400))
        lines = [b"HTTP/1.0 200 OK" if a.http else b"ICY 200 OK",
                 b"icy-name:" + a.name.encode(self.encoding),
                 b"icy-genre:Test",
                 b"icy-br:%d" % (a.kbps or 128)]
        if a.content_type != "none":
            lines.insert(3, b"content-type:" + a.content_type.encode())
        if metadata:
            lines.append(b"icy-metaint:%d" % a.metaint)
        return b"\r\n".join(lines) + b"\r\n\r\n"

    def playlist(self, port):
        base = "%s://127.0.0.1:%d/" % ("https" if self.args.tls else "http", port)
        lines = ["[playlist]", "NumberOfEntries=2",
                 "File1=" + base, "Title1=" + self.args.name, "Length1=-1",
                 "File2=" + base + "live", "Title2=" + self.args.name + " (live)", "Length2=-1",
                 "Version=2"]
        body = ("\r\n".join(lines) + "\r\n").encode("cp949")
        return (b"HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\nContent-Length: %d\r\n\r\n" % len(body)) + body

    def m3u(self, entries=None):
        """An extended M3U list whose entries are relative to its own address."""
        lines = ["#EXTM3U"]
        for entry in entries or ["/", "live"]:
            lines += ["#EXTINF:-1," + self.args.name, entry]
        body = ("\r\n".join(lines) + "\r\n").encode("cp949")
        return (b"HTTP/1.0 200 OK\r\nContent-Type: audio/x-mpegurl\r\nContent-Length: %d\r\n\r\n" % len(body)) + body

    def hls(self):
        """An HLS media list (audio/mpegurl, as HLS allows): segments of one station, here named
        like the station's own addresses, so that playing them one by one would show."""
        body = (b"#EXTM3U\r\n#EXT-X-VERSION:3\r\n#EXT-X-TARGETDURATION:10\r\n#EXT-X-MEDIA-SEQUENCE:1\r\n"
                b"#EXTINF:10,\r\n/\r\n#EXTINF:10,\r\nlive\r\n")
        return (b"HTTP/1.0 200 OK\r\nContent-Type: audio/mpegurl\r\nContent-Length: %d\r\n\r\n" % len(body)) + body

    def metadata_block(self, last_title):
        title = self.current_title()
        if title == last_title:
            return b"\0", last_title
        text = b"StreamTitle='" + title + b"';"
        length = (len(text) + 15) // 16
        return bytes([length]) + text.ljust(16 * length, b"\0"), title

    def audio_bytes(self, pos=0):
        """Endless audio, looping the file from pos."""
        while True:
            piece = self.audio[pos:pos + 4096]
            pos = (pos + len(piece)) % len(self.audio)
            yield piece


class RecordedSocket:
    """A connection whose every byte handed over for sending is also kept in a file: written
    before it is sent, so that what a client received always lies within the file."""

    def __init__(self, sock, path):
        self.sock = sock
        self.file = open(path, "wb", buffering=0)

    def sendall(self, data):
        self.file.write(data)
        self.sock.sendall(data)

    def __getattr__(self, name):
        return getattr(self.sock, name)


def read_request(sock):
    """The request up to its blank line (at most 8 KiB); None when the client closed before it."""
    request = b""
    while b"\r\n\r\n" not in request and len(request) < 8192:
        piece = sock.recv(4096)
        if not piece:
            return None
        request += piece
    return request


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        station = self.server.station
        a = station.args
        sock = self.request
        sock.settimeout(5)
        try:
            if self.server.tls is not None:
                sock = self.server.tls.wrap_socket(sock, server_side=True)
            request = read_request(sock)
            if request is None:
                return
            if a.record_sent:
                with self.server.count_lock:
                    self.server.connections += 1
                    base = os.path.join(a.record_sent, "conn-%d" % self.server.connections)
                with open(base + ".request", "wb") as f:
                    f.write(request)
                sock = RecordedSocket(sock, base + ".sent")
            # Like real servers, title blocks only for clients that ask for them.
            metadata = bool(a.metaint) and b"icy-metadata:1" in request.lower().replace(b" ", b"")
            path = request.split(b" ", 2)[1] if request.startswith(b"GET ") else b""
            list_path = path.split(b"?")[0].lower()
            if station.hls_mode is not None:
                station.log("HLS " + list_path.decode("latin-1"))
                station.hls_mode.serve(sock, list_path.decode("latin-1"), self.server.stopping)
                return
            if a.pls and list_path.endswith(b".pls"):
                sock.sendall(station.playlist(self.server.server_address[1]))
                return
            if a.pls and list_path in (b"/hls", b"/hls.m3u8"):
                sock.sendall(station.hls())
                return
            if a.pls and list_path.endswith((b".m3u", b".m3u8")):
                sock.sendall(station.m3u())
                return
            # Lists at addresses without an extension, told by their Content-Type alone; "/loop"
            # names itself, as two lists that lead to each other would.
            if a.pls and list_path == b"/playlist":
                sock.sendall(station.playlist(self.server.server_address[1]))
                return
            if a.pls and list_path in (b"/playlist-m3u", b"/loop"):
                sock.sendall(station.m3u(["loop"] if list_path == b"/loop" else None))
                return
            if a.silence:
                while not self.server.stopping.wait(0.1):
                    pass
                return
            if a.once:
                with self.server.count_lock:
                    self.server.answered += 1
                    if self.server.answered > 1:
                        return
            sock.sendall(station.header(metadata))
            if a.redirect or a.header_only:
                return
            if a.oversized_header:
                # The header goes on and on, never ending (unless told to stop), then the line is held.
                line = 0
                while a.endless_header and not self.server.stopping.wait(0.05):
                    sock.sendall(b"".join(b"icy-notice%d: filler\r\n" % (line + i) for i in range(40)))
                    line += 40
                while not self.server.stopping.wait(0.1):
                    pass
                return
            if a.status:
                sock.sendall(b"<html><body>" + a.status.encode() + b"</body></html>")
                return
            station.log("OPEN %d" % self.client_address[1])
            try:
                self.stream(sock, station, a, a.metaint if metadata else 0)
            finally:
                station.log("CLOSED %d" % self.client_address[1])
        except OSError:
            pass

    def stream(self, sock, station, a, metaint):
        rate = a.kbps * 1000 / 8
        # The trickled bytes take the burst's place: pacing counts from where they end.
        burst = a.trickle or a.burst
        if a.trickle:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sent = 0
        since_meta = 0
        last_title = None
        begun = time.monotonic()
        start = 0
        if a.live:
            start = int((begun - station.started) * (rate or 16000) - burst) % len(station.audio)
        for piece in station.audio_bytes(start):
            while piece:
                if self.server.stopping.is_set():
                    return
                if a.drop_every and time.monotonic() - begun >= a.drop_every:
                    return
                take = len(piece)
                if metaint:
                    take = min(take, metaint - since_meta)
                if a.close_after:
                    take = min(take, a.close_after - sent)
                    if take <= 0:
                        return
                trickling = sent < a.trickle
                if trickling:
                    take = min(take, TRICKLE_PIECE, a.trickle - sent)
                sock.sendall(piece[:take])
                piece = piece[take:]
                sent += take
                since_meta += take
                if metaint and since_meta == metaint:
                    block, last_title = station.metadata_block(last_title)
                    sock.sendall(block)
                    since_meta = 0
                if trickling:
                    time.sleep(TRICKLE_PAUSE)
                    begun = time.monotonic()
                elif rate and sent > burst:
                    ahead = (sent - burst) / rate - (time.monotonic() - begun)
                    if ahead > 0:
                        time.sleep(ahead)


def page(title, *body):
    """A plain page in code page 949 (declared nowhere: readers take the system's code page).
    Text parts of the body are encoded, byte parts go in as they are."""
    parts = ["<html>\r\n<head><title>%s</title></head>\r\n<body>\r\n" % title, *body, "\r\n</body>\r\n</html>\r\n"]
    return b"".join(part if isinstance(part, bytes) else part.encode("cp949") for part in parts)


class Site:
    """The station's web site: fixed pages, and the now-playing page made afresh per request."""

    def __init__(self, station):
        self.station = station
        name = station.args.name
        menu = ('<p><a href="/">처음으로</a> | <a href="/gasaview.html">지금 나오는 노래</a> | '
                '<a href="/zboard/zboard.php?id=Request">신청곡</a> | <a href="/maker.html">만든 사람들</a></p>')
        self.pages = {
            b"/": page(name, "<h1>%s</h1>\r\n<p>하루 종일 음악이 흐르는 작은 인터넷 방송국입니다.</p>\r\n%s"
                       % (name, menu)),
            b"/zboard/zboard.php?id=Request": page(
                "신청곡 게시판",
                "<h1>신청곡 게시판</h1>\r\n<table border=\"1\">\r\n"
                "<tr><th>번호</th><th>신청곡</th><th>이름</th></tr>\r\n"
                "<tr><td>2</td><td>펠로라 - 저녁의 노래</td><td>손님</td></tr>\r\n"
                "<tr><td>1</td><td>Pellora - Morning Tone</td><td>관리자</td></tr>\r\n"
                "</table>\r\n%s" % menu),
            b"/maker.html": page(
                "만든 사람들",
                "<h1>만든 사람들</h1>\r\n<ul>\r\n<li>방송 진행: 펠로라 방송팀</li>\r\n"
                "<li>프로그램: kelplayerx 개발팀</li>\r\n</ul>\r\n%s" % menu),
        }

    def now_playing(self):
        # The title goes in as the stream's metadata carries it: the very same bytes.
        return page("지금 나오는 노래", "<h1>%s</h1>\r\n<table>\r\n<tr><td>" % self.station.args.name + TITLE_MARKER,
                    self.station.current_title(), "</td></tr>\r\n</table>")

    def answer(self, path):
        if path == b"/gasaview.html":
            return b"200 OK", self.now_playing()
        if path in self.pages:
            return b"200 OK", self.pages[path]
        return b"404 Not Found", page("404 Not Found", "<h1>Not Found</h1>")


class SiteHandler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(5)
        try:
            request = read_request(sock)
            if request is None:
                return
            path = request.split(b" ", 2)[1] if request.startswith(b"GET ") else b""
            status, body = self.server.site.answer(path)
            self.server.site.station.log("PAGE " + path.decode("latin-1"))
            sock.sendall(b"HTTP/1.0 " + status + b"\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n"
                         % len(body) + body)
        except (OSError, IndexError):
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv):
    args = parse_args(argv)
    server = Server(("127.0.0.1", args.port), Handler)
    server.station = Station(args)
    server.tls = None
    if args.tls:
        server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # Some test certificates are weak on purpose (MD5, SHA-1, 1024-bit keys): the client judges them.
        server.tls.set_ciphers("DEFAULT:@SECLEVEL=0")
        if args.tls_max == "1.1":
            server.tls.minimum_version = ssl.TLSVersion.MINIMUM_SUPPORTED
            server.tls.maximum_version = ssl.TLSVersion.TLSv1_1
        elif args.tls_max == "1.2":
            server.tls.maximum_version = ssl.TLSVersion.TLSv1_2
        server.tls.load_cert_chain(args.tls + ".pem", args.tls + ".key")
        if args.record_sni:
            def record_sni(sock, name, context):
                with open(args.record_sni, "a") as f:
                    f.write("%s\n" % (name or "-"))
            server.tls.sni_callback = record_sni
    server.connections = 0
    server.answered = 0
    server.count_lock = threading.Lock()
    server.stopping = threading.Event()
    site = Server(("127.0.0.1", args.site_port), SiteHandler)
    site.site = Site(server.station)
    print("PORT %d" % server.server_address[1], flush=True)
    print("SITE_PORT %d" % site.server_address[1], flush=True)
    site_thread = threading.Thread(target=site.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    site_thread.start()
    timer = threading.Timer(args.lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    # The lifetime covers the site too.
    server.stopping.set()
    site.shutdown()
    site_thread.join(timeout=5)
    site.server_close()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
