"""Runs a command where only loopback exists and a stub DNS server decides every name lookup."""
# Usage from a test:
#   from name_namespace import run_in_name_namespace
#   rc, out, err, queries = run_in_name_namespace(
#       ["/usr/lib/wine/wine64", exe, "--gtest_filter=..."],
#       names={"radio.test": "127.0.0.1", "moving.test": ["127.0.0.1", "127.0.0.1", "127.0.0.2"]},
#       silent={"silent.test"}, timeout=120)
# A name mapped to a list answers its n-th A query with the n-th address (the last one thereafter);
# unknown names get NXDOMAIN, AAAA queries for known names an empty answer, silent names nothing.
# names6={"dual.test": "2001:db8::5"} answers AAAA queries (a name only there has no A record);
# blackhole6=["2001:db8::5"] routes those addresses to a link where nothing ever answers, so that
# connecting to them hangs as over a broken IPv6 route.
# queries is the list of (name, type) the stub received, in order; result.timings holds set-up costs.
# From a shell: name_namespace.py --name radio.test=127.0.0.1 --silent silent.test -- command...
#
# How: the module re-executes itself under `unshare --net --mount --pid` (root, no sudo). Inside,
# a scratch directory gets a private tmpfs. The Wine prefix is an overlay of the real one with its
# writes kept there, so the outer wineserver's registry is never written (no copy: the prefix is
# ~700 MB). Under Wine 8 the wineserver makes the sockets, so it must live in the network
# namespace: Debian's Wine names its server directory (/tmp/wine-XXXXXX) in $WINEPREFIX/wineserver,
# and with that file gone from the overlay a fresh wineserver starts with a directory of its own.
# /tmp itself stays as it is (the build tree or the prefix may live there). The command is PID 1's
# child: when it ends, PID 1 exits and the kernel kills everything left in the namespace.
# No query can leave: the network namespace has loopback alone (no route out), resolv.conf names
# only the stub, nsswitch.conf only files and dns (no daemon behind mdns or resolve), and nscd's
# socket, which crosses network namespaces, is hidden. The stub itself never forwards.
import argparse
import collections
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
QTYPES = {1: "A", 28: "AAAA"}


class Result(collections.namedtuple("Result", "returncode stdout stderr queries")):
    timings = {}


# A public address that only the namespace has, on its loopback: servers listen there as a public host.
PUBLIC_HOST = "203.0.113.9"

def run_in_name_namespace(cmd, names=None, silent=(), timeout=120, env=None, resolv_options="", slow=None,
                          names6=None, blackhole6=()):
    """Runs cmd (a list) in the namespaces; returns Result(returncode, stdout, stderr, queries).
    env defaults to os.environ; with WINEPREFIX in it the command runs on an overlay of that
    prefix with its own wineserver. resolv_options goes to resolv.conf's options line (e.g.
    "timeout:1 attempts:1"; glibc's defaults otherwise). slow maps names of names to the seconds
    their answers wait (under the resolver's 5 s). Raises subprocess.TimeoutExpired."""
    config = {"names": {k.lower().rstrip("."): v for k, v in (names or {}).items()},
              "names6": {k.lower().rstrip("."): v for k, v in (names6 or {}).items()},
              "blackhole6": list(blackhole6),
              "silent": sorted(n.lower().rstrip(".") for n in silent), "timeout": timeout,
              "resolv_options": resolv_options,
              "slow": {k.lower().rstrip("."): v for k, v in (slow or {}).items()}}
    # The inner side writes queries and timings to log; scratch gets a tmpfs of its own there.
    with tempfile.TemporaryFile() as log, tempfile.TemporaryDirectory(prefix="name-namespace-") as scratch:
        config["data"] = scratch
        argv = ["unshare", "--net", "--mount", "--propagation", "private", "--pid", "--fork",
                "--kill-child", "--mount-proc", sys.executable, "-S", os.path.abspath(__file__),
                "--inner", json.dumps(config), str(log.fileno()), "--", *cmd]
        # The inner side enforces timeout itself; this one only guards a stuck set-up.
        done = subprocess.run(argv, capture_output=True, env=env, pass_fds=(log.fileno(),),
                              timeout=timeout + 60)
        log.seek(0)
        lines = [line.split("\t") for line in log.read().decode().splitlines()]
    text = lambda b: b.decode("utf-8", "replace").replace("\r", "")
    out, err = text(done.stdout), text(done.stderr)
    if ["T"] in lines:
        raise subprocess.TimeoutExpired(cmd, timeout, output=out, stderr=err)
    result = Result(done.returncode, out, err, [(l[1], l[2]) for l in lines if l[0] == "Q"])
    result.timings = {l[1]: float(l[2]) for l in lines if l[0] == "S"}
    return result


# ---- inside the namespaces ----

def dns_answer(query, names, silent, counts, log, names6=None):
    """The reply to one DNS query message, or None to stay silent."""
    qid, flags, qdcount = struct.unpack(">HHH", query[:6])
    if flags & 0x8000 or qdcount != 1:
        return None
    labels, i = [], 12
    while query[i]:  # queries carry no compression pointers
        labels.append(query[i + 1:i + 1 + query[i]])
        i += 1 + query[i]
    qtype = struct.unpack(">H", query[i + 1:i + 3])[0]
    question = query[12:i + 5]
    name = b".".join(labels).decode("ascii", "replace").lower()
    log("Q\t%s\t%s\n" % (name, QTYPES.get(qtype, qtype)))
    if name in silent:
        return None
    answer, rcode = b"", 0
    names6 = names6 or {}
    if name not in names and name not in names6:
        rcode = 3  # NXDOMAIN
    elif qtype == 28 and name in names6:
        answer = b"\xc0\x0c" + struct.pack(">HHIH", 28, 1, 0, 16) + socket.inet_pton(socket.AF_INET6, names6[name])
    elif qtype == 1 and name in names:
        addrs = names[name] if isinstance(names[name], list) else [names[name]]
        addr = addrs[min(counts[name], len(addrs) - 1)]
        counts[name] += 1
        # TTL 0: nothing may keep an answer that is meant to change.
        answer = b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 0, 4) + socket.inet_aton(addr)
    # QR, AA, RA set; the opcode and RD copied from the query.
    flags = 0x8480 | (flags & 0x7900) | rcode
    return struct.pack(">HHHHHH", qid, flags, 1, 1 if answer else 0, 0, 0) + question + answer


def serve_dns(config, log):
    """The stub on 127.0.0.1:53, UDP and TCP (glibc falls back to TCP on a truncated reply)."""
    names, silent = config["names"], set(config["silent"])
    counts, lock = collections.Counter(), threading.Lock()

    def answer(query):
        with lock:
            try:
                return dns_answer(query, names, silent, counts, log, config["names6"])
            except (IndexError, struct.error):
                return None

    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 53))
    tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    tcp.bind(("127.0.0.1", 53))
    tcp.listen(16)

    def delay(query):
        """Seconds to hold the answer back: a slow name server for the names in config["slow"]."""
        try:
            labels, i = [], 12
            while query[i]:
                labels.append(query[i + 1:i + 1 + query[i]])
                i += 1 + query[i]
            return config["slow"].get(b".".join(labels).decode("ascii", "replace").lower(), 0)
        except IndexError:
            return 0

    def udp_loop():
        while True:
            query, peer = udp.recvfrom(4096)
            reply = answer(query)
            if reply:
                threading.Timer(delay(query), udp.sendto, (reply, peer)).start()

    def tcp_client(conn):
        with conn, conn.makefile("rb") as f:
            while len(head := f.read(2)) == 2:
                reply = answer(f.read(struct.unpack(">H", head)[0]))
                if reply:
                    conn.sendall(struct.pack(">H", len(reply)) + reply)

    def tcp_loop():
        while True:
            threading.Thread(target=tcp_client, args=(tcp.accept()[0],), daemon=True).start()

    # Daemon threads: the stub lives exactly as long as this process, which the command bounds.
    for loop in (udp_loop, tcp_loop):
        threading.Thread(target=loop, daemon=True).start()


def inner(config, log_fd, cmd):
    # As PID 1 of the namespace a signal without a handler is ignored: the lifetime limit needs one.
    signal.signal(signal.SIGALRM, lambda *_: os._exit(125))
    signal.alarm(config["timeout"] + 50)
    log = lambda line: os.write(log_fd, line.encode())
    mount = lambda *a: subprocess.run(["mount", *a], check=True)
    start = time.monotonic()
    ip = shutil.which("ip") or "/usr/sbin/ip"
    subprocess.run([ip, "link", "set", "lo", "up"], check=True)
    # glibc's AI_ADDRCONFIG counts every IPv4 address but 127.0.0.1: without a second one,
    # getaddrinfo(AF_INET, AI_ADDRCONFIG) fails at once and asks no server. Still loopback only.
    subprocess.run([ip, "addr", "add", "127.0.1.1/8", "dev", "lo"], check=True)
    # A documentation address on this namespace's own loopback stands for a public host.
    subprocess.run([ip, "addr", "add", PUBLIC_HOST + "/32", "dev", "lo"], check=True)
    if config["blackhole6"]:
        # A veth pair whose far end takes no frame meant for another address: what is sent there
        # is never answered. The global address on it counts for AI_ADDRCONFIG as a route would.
        subprocess.run([ip, "link", "add", "hole0", "type", "veth", "peer", "name", "hole1"], check=True)
        for link in ("hole0", "hole1"):
            subprocess.run([ip, "link", "set", link, "up"], check=True)
        subprocess.run([ip, "-6", "addr", "add", "2001:db8:ffff::1/64", "dev", "hole0", "nodad"], check=True)
        for n, addr in enumerate(config["blackhole6"]):
            subprocess.run([ip, "-6", "route", "add", addr + "/128", "dev", "hole0"], check=True)
            subprocess.run([ip, "-6", "neigh", "add", addr, "lladdr", "02:00:00:00:ff:%02x" % n, "dev", "hole0",
                            "nud", "permanent"], check=True)

    data = config["data"]
    mount("-t", "tmpfs", "tmpfs", data)

    def replace_etc(name, text):  # a bind mount of a file: only this namespace sees it
        with open(os.path.join(data, name), "w") as f:
            f.write(text)
        mount("--bind", os.path.join(data, name), "/etc/" + name)

    options = "options %s\n" % config["resolv_options"] if config["resolv_options"] else ""
    replace_etc("resolv.conf", "nameserver 127.0.0.1\n" + options)
    # The machine's own name too, as the real file has it: Wine looks it up at start.
    replace_etc("hosts", "127.0.0.1 localhost %s\n::1 localhost\n" % socket.gethostname())
    with open("/etc/nsswitch.conf") as f:
        nss = f.read().splitlines()
    if "hosts: files dns" not in [" ".join(l.split()) for l in nss]:  # no mdns, resolve, myhostname
        replace_etc("nsswitch.conf", "\n".join(l for l in nss if not l.startswith("hosts:"))
                    + "\nhosts: files dns\n")
    # glibc asks a running nscd before any of those, over a Unix socket that no network namespace
    # fences in: an empty tmpfs over its directory hides it.
    nscd = os.path.realpath("/var/run/nscd")
    if os.path.isdir(nscd):
        mount("-t", "tmpfs", "tmpfs", nscd)
    serve_dns(config, log)
    log("S\tnamespace\t%.3f\n" % (time.monotonic() - start))

    prefix = os.environ.get("WINEPREFIX")
    if prefix:
        t = time.monotonic()
        for d in ("upper", "work", "prefix"):
            os.mkdir(os.path.join(data, d))
        try:
            mount("-t", "overlay", "overlay", "-o", "lowerdir=%s,upperdir=%s/upper,workdir=%s/work"
                  % (prefix, data, data), data + "/prefix")
        except subprocess.CalledProcessError:  # a file system overlayfs refuses: copy (~1 s)
            shutil.copytree(prefix, data + "/prefix", symlinks=True, dirs_exist_ok=True)
        os.environ["WINEPREFIX"] = data + "/prefix"
        os.environ["TESTENV_WINEPREFIX"] = data + "/prefix"  # for commands that source testenv.sh
        # Without the outer server's directory name the new wineserver makes a directory of its own.
        if os.path.exists(data + "/prefix/wineserver"):
            os.remove(data + "/prefix/wineserver")
        log("S\tprefix\t%.3f\n" % (time.monotonic() - t))
        # As wine-run.sh does: the wineserver and Wine's own services start first, apart from
        # the command, so that its run time is its own.
        t = time.monotonic()
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-p%d" % (config["timeout"] + 60)], **quiet)
        log("S\twineserver\t%.3f\n" % (time.monotonic() - t))
        t = time.monotonic()
        subprocess.run([WINE, "cmd", "/c", "exit"], **quiet)
        log("S\twine_start\t%.3f\n" % (time.monotonic() - t))

    proc = subprocess.Popen(cmd, start_new_session=True)
    try:
        rc = proc.wait(timeout=config["timeout"])
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        log("T\n")
        rc = proc.wait()
    # The new wineserver's directory in the real /tmp goes with it; leaving PID 1 kills the rest.
    if prefix:
        subprocess.run([WINESERVER, "-k"], stderr=subprocess.DEVNULL)
        try:
            with open(data + "/prefix/wineserver") as f:
                shutil.rmtree(os.path.join("/tmp", os.path.basename(f.read().strip())), ignore_errors=True)
        except OSError:
            pass
    os._exit(rc if rc >= 0 else 128 - rc)


def main():
    if sys.argv[1:2] == ["--inner"]:
        inner(json.loads(sys.argv[2]), int(sys.argv[3]), sys.argv[5:])
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--name", action="append", default=[], help="NAME=IP[,IP...]")
    parser.add_argument("--silent", action="append", default=[], help="a name never answered")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--resolv-options", default="")
    parser.add_argument("cmd", nargs="+")
    args = parser.parse_args()
    names = {}
    for n in args.name:
        key, addrs = n.split("=", 1)
        names[key] = addrs.split(",") if "," in addrs else addrs
    result = run_in_name_namespace(args.cmd, names, args.silent, args.timeout,
                                   resolv_options=args.resolv_options)
    sys.stdout.write(result.stdout)
    sys.stderr.write(result.stderr)
    for name, qtype in result.queries:
        sys.stderr.write("query %s %s\n" % (name, qtype))
    sys.stderr.write("timings %s\n" % result.timings)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
