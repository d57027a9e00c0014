"""The build's Authenticode signatures: every shipped program, control, package and cabinet verifies with
osslsigncode and, in the private test prefix (the build's test root trusted there alone), with Windows'
WinVerifyTrust; a copy with one byte changed after signing fails both."""
import os
import shutil
import subprocess
import sys
import tempfile

from harness import ARCH, BUILD_DIR, Checks, run_windows

VERSION = ".".join(open(os.path.join(BUILD_DIR, "Version.h")).read().split('KELPLAYERX_VERSION_TEXT "')[1].split('"')[0]
                   .split(", "))
SIGNING = os.path.join(BUILD_DIR, "..", "signing")
# The x86_64 tree ships the i686 control too, in its package.
SHIPPED = ["player/pelradio.exe", "control/kelplayerx.ocx", "pelradio-%s-%s.msi" % (VERSION, ARCH),
           "kelplayerx-%s.cab" % ARCH] + (["../i686/control/kelplayerx.ocx"] if ARCH == "x86_64" else [])
TRUST_E_BAD_DIGEST = "0x80096010"


def verify(path):
    """osslsigncode's verdict against the build's test root, or the station's roots when it signed."""
    ca = os.environ.get("KELPLAYERX_SIGN_CA") if os.environ.get("KELPLAYERX_SIGN_CERT") else os.path.join(SIGNING, "root.pem")
    args = ["-CAfile", ca] if ca else []
    return subprocess.run(["osslsigncode", "verify", *args, "-in", path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def trust(path):
    """WinVerifyTrust's result for a file, as trust_check prints it."""
    code, lines = run_windows("tests/trust_check.exe", "Z:" + os.path.abspath(path).replace("/", "\\"))
    return code, lines[-1] if lines else ""


def changed_copy(path, folder):
    """A copy of a signed program with one byte of its code changed."""
    copy = os.path.join(folder, "changed-" + os.path.basename(path))
    data = bytearray(open(path, "rb").read())
    data[len(data) // 3] ^= 0x01
    with open(copy, "wb") as f:
        f.write(data)
    return copy


def main():
    c = Checks()
    root = os.path.join(SIGNING, "root.der")
    if os.path.isfile(root):
        code, _ = run_windows("tests/trust_root.exe", "Z:" + os.path.abspath(root).replace("/", "\\"))
        c.check(code == 0, "the build's test root is trusted in the test prefix")
    for name in SHIPPED:
        path = os.path.join(BUILD_DIR, name)
        if not os.path.isfile(path):
            c.check(False, "the build made %s" % name)
            continue
        c.check(verify(path), "osslsigncode verifies %s" % name)
        code, result = trust(path)
        c.check(code == 0 and result == "0x00000000", "WinVerifyTrust accepts %s: %s" % (name, result))
    work = tempfile.mkdtemp(prefix="signature-", dir=BUILD_DIR)
    try:
        for name in ("player/pelradio.exe", "control/kelplayerx.ocx"):
            copy = changed_copy(os.path.join(BUILD_DIR, name), work)
            c.check(not verify(copy), "osslsigncode refuses %s with a byte changed" % name)
            code, result = trust(copy)
            c.check(code != 0 and result == TRUST_E_BAD_DIGEST,
                    "WinVerifyTrust refuses %s with a byte changed: %s" % (name, result))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
