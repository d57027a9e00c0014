"""A PLS list whose first station's name does not resolve: the control gives that entry up within its
connecting budget, tells why once or a few times, and plays the second station."""
# The whole test runs in network and mount namespaces of its own (name_namespace.py): only loopback,
# and a stub name server that answers NXDOMAIN for "nowhere.test". Nothing is looked up outside.
import http.server
import os
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

SECONDS = 9
BAD_STATION = "ChangeMetadata 올바른 방송 주소가 아닙니다."


def serve_list(body):
    """A one-shot page on loopback serving the list; returns its address."""
    payload = body.encode("ascii")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "audio/x-scpls")
            self.end_headers()
            self.wfile.write(payload)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d/mirrors.pls" % server.server_port


def inner():
    from harness import Checks, Station, run_windows

    c = Checks()
    with Station(lifetime=SECONDS + 40) as station:
        url = serve_list("[playlist]\r\nNumberOfEntries=2\r\nFile1=http://nowhere.test:%d/\r\nFile2=%s\r\n"
                         % (station.port, station.url))
        code, lines = run_windows(os.path.join("tools", "kelplay.exe"), url, "--seconds", str(SECONDS))
        bad = lines.count(BAD_STATION)
        print("kelplay: %d lines, %d bad-station texts, first: %r" % (len(lines), bad, lines[:4]))
        c.check(code == 0, "kelplay exits 0")
        c.check("ChangeMetadata Pellora Local" in lines, "the second station plays")
        c.check(1 <= bad <= 3, "the first station's name is told once or a few times: %d" % bad)
        c.check(any(l.startswith("ChangeBufferState ") and l != "ChangeBufferState 0" for l in lines),
                "its audio fills the buffer")
    return c.finish()


def main():
    from harness import Checks
    from name_namespace import run_in_name_namespace

    env = dict(os.environ, WINEPREFIX=testenv()["WINEPREFIX"])
    rc, out, err, queries = run_in_name_namespace([sys.executable, os.path.abspath(__file__), "--inner"],
                                                  timeout=120, env=env)
    sys.stdout.write(out)
    c = Checks()
    c.check(rc == 0, "the test in its namespaces passed (exit %d)" % rc)
    c.check(any(name == "nowhere.test" for name, _ in queries), "nowhere.test was looked up there: %r" % queries[:4])
    return c.finish()


def testenv():
    """The test environment's variables, as testenv.sh sets them."""
    dump = subprocess.run(["bash", "-c", '. "$1" && env -0', "-",
                           os.path.join(os.environ["SOURCE_DIR"], "tests", "testenv.sh")],
                          capture_output=True, check=True).stdout.decode()
    return dict(item.split("=", 1) for item in dump.split("\0") if "=" in item)


if __name__ == "__main__":
    sys.exit(inner() if sys.argv[1:] == ["--inner"] else main())
