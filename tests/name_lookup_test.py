"""Every GoogleTest case that looks a name up, run where only loopback exists and a stub name server answers."""
# The suites named *Names (CTest's plain runs leave them out, see CMakeLists.txt) run here in network
# and mount namespaces of their own, where the stub answers "radio.test" with 127.0.0.1, never
# answers "silent.test" and says NXDOMAIN for every other name; no name is ever looked up outside.
# Two names have an IPv6 address too: "both.test" ::1, "dual.test" 2001:db8::5, where nothing
# ever answers; both have 127.0.0.1 as their IPv4 address. The namespace's loopback also holds
# 203.0.113.9, a public host for the cases that need one.
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from name_namespace import run_in_name_namespace  # noqa: E402

BUILD_DIR = os.environ["BUILD_DIR"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
BINARIES = ["control_page_test", "http_stream_test", "http_fetch_test", "socket_client_test"]
# What the cases ask for; anything else asked means a case looks up a name nobody meant.
NAMES = {"radio.test", "silent.test", "nowhere.test", "no-such-station.invalid", "both.test", "dual.test"}


def test_environment():
    """The variables of the private test environment (prefix, locale, home), as testenv.sh sets them."""
    dump = subprocess.run(["bash", "-c", '. "$1" && env -0', "-", os.path.join(SOURCE_DIR, "tests", "testenv.sh")],
                          capture_output=True, check=True).stdout.decode()
    return dict(item.split("=", 1) for item in dump.split("\0") if "=" in item)


def main():
    exes = [os.path.join(BUILD_DIR, "tests", name + ".exe") for name in BINARIES]
    # Each binary runs even when one before it fails, each behind a line naming it, under the tree's loader.
    script = ('rc=0; for exe; do echo "== $exe"; "$TESTENV_WINE" "$exe" "--gtest_filter=*Names.*" || rc=1; '
              'done; exit $rc')
    rc, out, err, queries = run_in_name_namespace(
        ["sh", "-c", script, "-", *exes],
        names={"radio.test": "127.0.0.1", "both.test": "127.0.0.1", "dual.test": "127.0.0.1"},
        names6={"both.test": "::1", "dual.test": "2001:db8::5"}, blackhole6=["2001:db8::5"],
        silent={"silent.test"}, timeout=200, env=test_environment())
    sys.stdout.write(out)
    sys.stderr.write(err)
    asked = {name for name, _ in queries}
    print("names asked:", sorted(asked))
    failures = []
    if rc != 0:
        failures.append("the tests failed (exit %d)" % rc)
    parts = re.split(r"^== .*[/\\](\w+)\.exe$", out, flags=re.M)
    runs = dict(zip(parts[1::2], parts[2::2]))
    for name in BINARIES:
        run = runs.get(name, "")
        ran = re.search(r"\[==========\] (\d+) tests? from", run)
        passed = re.search(r"\[  PASSED  \] (\d+) tests?\.", run)
        if not ran or int(ran.group(1)) == 0 or not passed or passed.group(1) != ran.group(1) or "[  SKIPPED ]" in run:
            failures.append("%s: not every *Names case ran and passed" % name)
    for name in sorted(NAMES - asked):
        failures.append("%s was never looked up" % name)
    for name in sorted(asked - NAMES):
        failures.append("%s was looked up, which no case means to" % name)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
