"""The bundled station's web site: the now-playing page follows the stream's titles, the other
pages answer, unknown paths do not; and --trickle hands out its first bytes slowly."""
import re
import socket
import sys
import time

from harness import Checks, Station, wait_for

MARKER = "재생중인 노래명&nbsp;:&nbsp;".encode("cp949")
TITLES = ["Pellora - Morning Tone", "펠로라 - 저녁의 노래", "Test Card - 440 Hz"]


def show(title):
    return None if title is None else title.decode("cp949", "replace")


def connect(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    return sock


def get(port, path):
    """One HTTP/1.0 GET: (status line, lower-cased headers, body) as bytes."""
    with connect(port) as sock:
        sock.sendall(b"GET " + path.encode() + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
        data = b""
        while True:
            piece = sock.recv(65536)
            if not piece:
                break
            data += piece
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = dict((k.strip().lower(), v.strip()) for k, _, v in (l.partition(b":") for l in lines[1:]))
    return lines[0], headers, body


def page_title(port):
    """The title cell of the now-playing page, as bytes; None without the marker."""
    _, _, body = get(port, "/gasaview.html")
    at = body.find(b"<td>" + MARKER)
    if at < 0:
        return None
    start = at + 4 + len(MARKER)
    end = body.find(b"</td>", start)
    return body[start:end] if end >= 0 else None


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        piece = sock.recv(count - len(data))
        if not piece:
            raise EOFError("stream closed")
        data += piece
    return data


def read_header(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(1)
        if not piece:
            raise EOFError("no header")
        data += piece
    return data


def stream_title(port):
    """The title of the first metadata block of a fresh connection, as bytes."""
    with connect(port) as sock:
        sock.sendall(b"GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n")
        header = read_header(sock)
        metaint = int(re.search(rb"icy-metaint:(\d+)", header).group(1))
        read_exactly(sock, metaint)
        block = read_exactly(sock, read_exactly(sock, 1)[0] * 16)
    match = re.match(rb"StreamTitle='(.*?)';", block, re.S)
    return match.group(1) if match else None


def main():
    c = Checks()
    with Station("--title-seconds", "2", "--metaint", "1024") as station:
        c.check(station.site_port not in (0, station.port), "the site listens on a port of its own: %d" % station.site_port)

        status, headers, body = get(station.site_port, "/gasaview.html")
        c.check(status == b"HTTP/1.0 200 OK", "the title page answers 200: %r" % status)
        c.check(headers.get(b"content-type") == b"text/html", "as text/html, no charset: %r" % headers.get(b"content-type"))
        c.check(headers.get(b"content-length") == str(len(body)).encode(), "with its length")
        c.check(b"<td>" + MARKER in body, "the title cell's marker is there in code page 949")

        # Page, stream, page: where both pages agree, no title change fell in between.
        same = None
        for _ in range(5):
            before = page_title(station.site_port)
            carried = stream_title(station.port)
            after = page_title(station.site_port)
            if before == after:
                same = (before, carried)
                break
        c.check(same is not None and same[0] == same[1] and same[0].decode("cp949") in TITLES,
                "the page shows the title the stream carries: %s" % (same and tuple(map(show, same)),))

        first = page_title(station.site_port)
        changed = []
        c.check(wait_for(lambda: changed.append(page_title(station.site_port)) or changed[-1] != first, 6),
                "the page's title changes with the stream's: %s then %s" % (show(first), show(changed[-1])))
        if changed and changed[-1] != first:
            c.check(show(changed[-1]) in TITLES, "to another of the station's titles: %s" % show(changed[-1]))

        for path in ("/zboard/zboard.php?id=Request", "/", "/maker.html"):
            status, headers, body = get(station.site_port, path)
            c.check(status == b"HTTP/1.0 200 OK" and headers.get(b"content-type") == b"text/html"
                    and body.startswith(b"<html>") and headers.get(b"content-length") == str(len(body)).encode(),
                    "%s answers 200 with a page" % path)
        for path in ("/nothing.html", "/zboard/zboard.php?id=Other", "/gasaview.htm"):
            status, _, _ = get(station.site_port, path)
            c.check(status.startswith(b"HTTP/1.0 404"), "%s answers 404: %r" % (path, status))

    with Station("--trickle", "2000", "--metaint", "0") as station:
        with connect(station.port) as sock:
            sock.sendall(b"GET / HTTP/1.0\r\n\r\n")
            read_header(sock)
            begun = time.monotonic()
            sizes = []
            while sum(sizes) < 2000:
                piece = sock.recv(65536)
                if not piece:
                    break
                sizes.append(len(piece))
            trickled = time.monotonic() - begun
            # Then the stream goes at its pace (128 kbps, 16000 bytes a second) with no burst.
            later = 0
            end = time.monotonic() + 1.0
            while time.monotonic() < end:
                sock.settimeout(max(0.01, end - time.monotonic()))
                try:
                    later += len(sock.recv(65536))
                except socket.timeout:
                    break
        c.check(len(sizes) >= 5 and max(sizes) <= 400, "the first 2000 bytes come in small reads: %r" % sizes)
        c.check(trickled >= 0.3, "spread over time: %.2f s" % trickled)
        c.check(8000 <= later <= 32000, "then paced, not a burst: %d bytes in the next second" % later)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
