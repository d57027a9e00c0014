"""The control in Wine's script host: cscript creates it by ProgID and drives its properties and methods."""
import os
import socket
import subprocess
import threading

from harness import Checks, SOURCE_DIR, WINE_RUN


def serve_once(listener, body):
    """Answers one GET with body, or gives up when the listener times out."""
    try:
        client, _ = listener.accept()
    except OSError:
        return
    with client:
        client.settimeout(10)
        request = b""
        while b"\r\n\r\n" not in request:
            piece = client.recv(2048)
            if not piece:
                break
            request += piece
        client.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + body)


def main():
    c = Checks()
    # A server on another loopback address: for a script host it is just another site.
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.2", 0))
    listener.listen(1)
    listener.settimeout(60)
    server = threading.Thread(target=serve_once, args=(listener, b"42 listeners"), daemon=True)
    server.start()
    count_url = "http://127.0.0.2:%d/count" % listener.getsockname()[1]
    # cscript wants a Windows path; drive Z: is the Unix root.
    script = "Z:" + os.path.join(SOURCE_DIR, "tests", "control_script.vbs").replace("/", "\\")
    done = subprocess.run([WINE_RUN, "cscript", "//nologo", script, count_url], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)
    listener.close()
    server.join(5)
    lines = done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    print("\n".join(lines))
    c.check(done.returncode == 0, "cscript exits 0")
    c.check("url http://127.0.0.1:9/radio" in lines, "url reads back what was set")
    c.check("volume Integer" in lines, "volume reads as a 16-bit integer")
    c.check("url after play http://127.0.0.1:9/radio" in lines, "one entry stays the url after Play")
    c.check("buffer 0" in lines, "getBufferState is 0 when nothing was buffered")
    c.check(lines.count("metadata []") == 2, "metadata is empty, and writing it changes nothing")
    c.check("count [42 listeners]" in lines, "getCount reads another host: a script host is no page")
    c.check(lines[-1:] == ["done"], "the script runs to its end")
    return c.finish()


if __name__ == "__main__":
    raise SystemExit(main())
