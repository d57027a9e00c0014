"""https stations through the control (kelplay): sound and titles, redirects between the schemes, playlists and getCount over TLS, certificates that fail (weak signatures and keys, an address not among the IP entries), a server that offers only TLS 1.1, no server name sent for an address, a server that never finishes its handshake."""
import os
import socket
import tempfile
import threading
import time

from audio import Capture, active_span, frequency, read_channels
from harness import Checks, Station, WindowsProcess, run_windows, wait_for

KELPLAY = os.path.join("tools", "kelplay.exe")
CERTS = os.path.join(os.environ["TESTENV_ROOT"], "certs")

UNTRUSTED = "서버의 인증서를 신뢰할 수 없습니다."
EXPIRED = "서버의 인증서가 만료되었습니다."
WRONG_NAME = "서버의 인증서가 주소의 이름과 맞지 않습니다."
FAILED = "보안 연결을 맺지 못했습니다."


def https(station, path="/"):
    return "https://127.0.0.1:%d%s" % (station.port, path)


def titles(lines):
    return [l[len("ChangeMetadata "):] for l in lines if l.startswith("ChangeMetadata ")]


def main():
    c = Checks()
    c.check(os.path.exists(os.path.join(CERTS, "trusted")), "the test authority is trusted in the prefix")

    # A stream over TLS plays: the station's tones come out, its name and titles arrive.
    with tempfile.TemporaryDirectory() as tmp, Station("--tls", os.path.join(CERTS, "station"),
                                                      "--title-seconds", "1") as station:
        path = os.path.join(tmp, "https.wav")
        with Capture(path):
            code, lines = run_windows(KELPLAY, https(station), "--seconds", "6")
        meta = titles(lines)
        c.check(meta[:1] == ["Pellora Local"] and "Pellora - Morning Tone" in meta,
                "an https stream gives its name and titles: %r" % meta[:4])
        rate, left, right = read_channels(path)
        start, end = active_span(left, right)
        c.check((end - start) / rate >= 3.0, "it is heard: %.2f s" % ((end - start) / rate))
        fl = frequency(left, start, end, rate)
        c.check(abs(fl - 440) < 10, "at the station's 440 Hz: %.1f" % fl)

        # Redirects from http to https and back, and a playlist fetched over TLS.
        with Station("--redirect", https(station)) as plain:
            code, lines = run_windows(KELPLAY, plain.url, "--seconds", "4")
            c.check("Pellora Local" in titles(lines), "an http station's 302 to https plays: %r" % titles(lines)[:3])
        with Station() as plain, Station("--tls", os.path.join(CERTS, "station"), "--redirect", plain.url) as back:
            code, lines = run_windows(KELPLAY, https(back), "--seconds", "4")
            c.check("Pellora Local" in titles(lines), "an https station's 302 to http plays: %r" % titles(lines)[:3])
        with Station("--tls", os.path.join(CERTS, "station"), "--pls") as lists:
            code, lines = run_windows(KELPLAY, https(lists, "/listen.pls"), "--seconds", "4")
            c.check("Pellora Local" in titles(lines), "an https playlist of https entries plays: %r" % titles(lines)[:3])
            code, lines = run_windows(KELPLAY, https(lists, "/listen.m3u"), "--seconds", "4")
            c.check("Pellora Local" in titles(lines), "an https M3U list of relative entries plays: %r" % titles(lines)[:3])
            proc = WindowsProcess(KELPLAY, commands=True)
            proc.send("count " + https(lists, "/listen.pls"))
            proc.send("quit")
            proc.finish()
            body = [line for _, line in proc.lines]
            c.check(any(l.startswith("File1=https://127.0.0.1:%d/" % lists.port) for l in body),
                    "getCount reads over https: %r" % body[:4])

    # A certificate that names 127.0.0.1 by an IP entry alone plays, and no server name is sent
    # for an address.
    with tempfile.TemporaryDirectory() as tmp:
        sni = os.path.join(tmp, "sni")
        with Station("--tls", os.path.join(CERTS, "ipsan"), "--record-sni", sni) as station:
            code, lines = run_windows(KELPLAY, https(station), "--seconds", "3")
            c.check("Pellora Local" in titles(lines), "an IP entry names the address: %r" % titles(lines)[:2])
        names = open(sni).read().split() if os.path.exists(sni) else []
        c.check(names and set(names) == {"-"}, "no server name is sent for an address: %r" % names)

    # Certificates that fail: the attempt ends with its text and no request is ever sent. MD5 and
    # SHA-1 signatures and 1024-bit keys, in the leaf or an intermediate, are refused as
    # untrusted; an address named by a DNS entry or the common name alone is the wrong name; a
    # server that offers only TLS 1.0 and 1.1 gets no secure connection.
    for cert, text, extra in (("untrusted", UNTRUSTED, ()), ("expired", EXPIRED, ()), ("othername", WRONG_NAME, ()),
                              ("md5", UNTRUSTED, ()), ("sha1", UNTRUSTED, ()), ("rsa1024", UNTRUSTED, ()),
                              ("sha1chain", UNTRUSTED, ()), ("dnsip", WRONG_NAME, ()), ("cnonly", WRONG_NAME, ()),
                              ("station", FAILED, ("--tls-max", "1.1"))):
        with tempfile.TemporaryDirectory() as sent, \
                Station("--tls", os.path.join(CERTS, cert), "--record-sent", sent, *extra) as station:
            code, lines = run_windows(KELPLAY, https(station), "--seconds", "3")
            meta = titles(lines)
            c.check(meta[:1] == [text], "a %s certificate is refused with its text: %r" % (cert, meta[:2]))
            c.check(not [f for f in os.listdir(sent) if f.endswith(".request")],
                    "and the %s station received no request" % cert)

    # A server that accepts and never answers the handshake: Stop lets go of it at once.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(30)
    closed = []

    def hold():
        conn, _ = listener.accept()
        conn.settimeout(30)
        try:
            conn.recv(65536)  # the client's hello, never answered
            while conn.recv(65536):
                pass
        except OSError:
            pass
        closed.append(time.monotonic())

    threading.Thread(target=hold, daemon=True).start()
    proc = WindowsProcess(KELPLAY, commands=True)
    proc.send("url https://127.0.0.1:%d/" % listener.getsockname()[1])
    proc.send("play")
    time.sleep(2)
    stopped = time.monotonic()
    proc.send("stop")
    c.check(wait_for(lambda: closed, 5) and closed[0] - stopped < 2.0,
            "Stop closes a connection stuck in its handshake within 2 s: %s"
            % ("%.2f s" % (closed[0] - stopped) if closed else "never"))
    proc.send("quit")
    proc.finish()
    listener.close()
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
