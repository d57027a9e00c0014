"""A lookup inside name_namespace.py reaches its stub name server only, even with an nscd listening on the machine."""
# nscd's socket is a file, so a network namespace does not fence it in. The test stands a recording
# nscd at its path in a mount namespace of its own (a tmpfs over /run: nothing else on the machine
# sees it) and looks a name up in the name namespace there.
import os
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

NAME = "leak.test"


def inner():
    from name_namespace import run_in_name_namespace

    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)
    os.mkdir("/run/nscd")
    nscd = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    nscd.bind("/run/nscd/socket")
    nscd.listen(8)
    asked = []

    def serve():
        while True:
            conn, _ = nscd.accept()
            with conn:
                asked.append(conn.recv(256))

    threading.Thread(target=serve, daemon=True).start()
    rc, out, err, queries = run_in_name_namespace(["getent", "hosts", NAME], timeout=20)
    failures = []
    if rc != 2:
        failures.append("getent did not tell the name unknown (exit %d): %s" % (rc, (out + err).strip()))
    if (NAME, "A") not in queries:
        failures.append("the stub was not asked: %r" % queries)
    if asked:
        failures.append("nscd was asked: %r" % asked)
    for failure in failures:
        print("FAIL:", failure)
    print("stub asked %r, nscd asked %r" % (queries, asked))
    return 1 if failures else 0


def main():
    return subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable,
                           os.path.abspath(__file__), "--inner"], timeout=60).returncode


if __name__ == "__main__":
    sys.exit(inner() if sys.argv[1:] == ["--inner"] else main())
