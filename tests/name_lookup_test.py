"""Where names are looked up: the private-network rule judged on the resolved address, a lookup that never answers, and a name that does not resolve."""
# Runs the ControlNames tests of control_page_test and the HttpStreamNames tests of http_stream_test
# in network and mount namespaces of their own, where only loopback exists and a stub name server
# answers "radio.test" with 127.0.0.1, never answers "silent.test" and has no other name; no name
# is ever looked up outside.
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from name_namespace import run_in_name_namespace  # noqa: E402

BUILD_DIR = os.environ["BUILD_DIR"]
SOURCE_DIR = os.environ["SOURCE_DIR"]


def test_environment():
    """The variables of the private test environment (prefix, locale, home), as testenv.sh sets them."""
    dump = subprocess.run(["bash", "-c", '. "$1" && env -0', "-", os.path.join(SOURCE_DIR, "tests", "testenv.sh")],
                          capture_output=True, check=True).stdout.decode()
    return dict(item.split("=", 1) for item in dump.split("\0") if "=" in item)


def main():
    control = os.path.join(BUILD_DIR, "tests", "control_page_test.exe")
    stream = os.path.join(BUILD_DIR, "tests", "http_stream_test.exe")
    env = dict(test_environment(), KEL_NAME_NAMESPACE="1")
    rc, out, err, queries = run_in_name_namespace(
        ["sh", "-c", '/usr/lib/wine/wine64 "$1" --gtest_filter=ControlNames.* && '
                     '/usr/lib/wine/wine64 "$2" --gtest_filter=HttpStreamNames.*', "-", control, stream],
        names={"radio.test": "127.0.0.1"}, silent={"silent.test"}, timeout=150, env=env)
    sys.stdout.write(out)
    sys.stderr.write(err)
    asked = {name for name, _ in queries}
    print("names asked:", sorted(asked))
    failures = []
    if rc != 0:
        failures.append("the tests failed (exit %d)" % rc)
    if "[  SKIPPED ]" in out or "PASSED  ] 3 tests" not in out or "PASSED  ] 1 test." not in out:
        failures.append("not all four tests ran and passed")
    for name in ("radio.test", "silent.test", "nowhere.test"):
        if name not in asked:
            failures.append("%s was never looked up" % name)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
