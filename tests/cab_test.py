"""The cabinet that pages name in <object codebase=...>: gcab lists the control and its INF; the INF says what a
browser's code download needs ([Add.Code], the control's CLSID and file version, RegisterServer=yes, the folder);
in a fresh prefix, advpack's LaunchINFSection (as the browser's installer runs it) installs and registers the
control, so that a script creates it by its ProgID, and the INF's removal section unregisters and deletes it."""
import os
import shutil
import subprocess
import sys
import tempfile

from harness import ARCH, BUILD_DIR, SOURCE_DIR, Checks
from installer_test import TRACES, Prefix, read_registry, windows

CAB = os.path.join(BUILD_DIR, "kelplayerx-%s.cab" % ARCH)
# The code download's name for the cabinet's processor.
CPU = {"x86_64": "x64", "i686": "x86"}[ARCH]
CONTROL = os.path.join(BUILD_DIR, "control", "kelplayerx.ocx")
CLSID = "{A9606593-1333-4AA0-A417-D5699D38E28B}"
# A 32-bit installer's system32 is the 64-bit system's syswow64, and its classes are the 32-bit view's.
INSTALLED = "drive_c/windows/%s/kelplayerx.ocx" % {"x86_64": "system32", "i686": "syswow64"}[ARCH]
CLASSES = {"x86_64": "hklm\\software\\classes\\", "i686": "hklm\\software\\classes\\wow6432node\\"}[ARCH]


def inf_lines(inf, section):
    """The lines of one INF section, without comments and blank lines."""
    lines, inside = [], False
    for line in open(inf, encoding="ascii").read().replace("\r", "").splitlines():
        line = line.split(";")[0].strip() if not line.startswith(";") else ""
        if line.startswith("["):
            inside = line.lower() == "[%s]" % section.lower()
        elif inside and line:
            lines.append(line)
    return lines


def main():
    c = Checks()
    work = tempfile.mkdtemp(prefix="cab-")
    try:
        test(c, work)
    finally:
        Prefix(os.path.join(work, "prefix")).stop()
        shutil.rmtree(work, ignore_errors=True)
    return c.finish()


def test(c, work):
    if not os.path.isfile(CAB):
        c.check(False, "the build made %s" % os.path.basename(CAB))
        return
    listed = subprocess.run(["gcab", "-t", CAB], stdout=subprocess.PIPE, text=True, check=True).stdout.split()
    c.check(sorted(listed) == ["kelplayerx.inf", "kelplayerx.ocx"], "gcab lists the control and its INF: %r" % listed)
    files = os.path.join(work, "files")
    os.makedirs(files)
    subprocess.run(["gcab", "-x", "-C", files, CAB], check=True)
    c.check(open(os.path.join(files, "kelplayerx.ocx"), "rb").read() == open(CONTROL, "rb").read(),
            "the cabinet's control is the built one")
    inf = os.path.join(files, "kelplayerx.inf")
    c.check(inf_lines(inf, "Add.Code") == ["kelplayerx.ocx=kelplayerx.ocx"], "[Add.Code] names the control")
    version = open(os.path.join(BUILD_DIR, "Version.h")).read().split('KELPLAYERX_VERSION_TEXT "')[1].split('"')[0]
    entry = inf_lines(inf, "kelplayerx.ocx")
    for line in ("file-win32-%s=thiscab" % CPU, "clsid=" + CLSID, "FileVersion=" + version.replace(" ", ""),
                 "RegisterServer=yes", "DestDir=11"):
        c.check(line in entry, "the control's INF entry has %s" % line + ("" if line in entry else ": %r" % entry))

    prefix = Prefix(os.path.join(work, "prefix"))
    prefix.run("wineboot", "-i", timeout=180)
    prefix.settle()
    before = read_registry(prefix.path)

    code, out = prefix.run("rundll32", "advpack.dll,LaunchINFSection", windows(inf) + ",DefaultInstall,4")
    prefix.settle()
    installed = os.path.join(prefix.path, INSTALLED)
    c.check(code == 0 and os.path.isfile(installed) and open(installed, "rb").read() == open(CONTROL, "rb").read(),
            "LaunchINFSection installs the control into the system folder: %r" % out[-200:])
    registry = read_registry(prefix.path)
    server = registry.get(CLASSES + "clsid\\%s\\inprocserver32" % CLSID.lower(), {}).get("@", "")
    c.check(server.lower() == r'"c:\windows\system32\kelplayerx.ocx"', "and registers it there: %s" % server)
    code, out = prefix.run("cscript", "//nologo", windows(os.path.join(SOURCE_DIR, "tests", "installer_play.vbs")),
                           "http://127.0.0.1:9/")
    c.check(code == 0 and out.rstrip().endswith("done"), "a script creates the control by its ProgID: %r" % out[-200:])

    code, out = prefix.run("rundll32", "advpack.dll,LaunchINFSection", windows(inf) + ",DefaultUninstall,4")
    prefix.settle()
    c.check(not os.path.exists(installed), "the removal section deletes the control: %r" % out[-200:])
    after = read_registry(prefix.path)
    left = sorted(k for k in set(after) - set(before) if TRACES.search(k) and "component categories" not in k)
    left += sorted("%s: %s=%s" % (k, n, v) for k, vals in after.items() for n, v in vals.items()
                   if TRACES.search(v) and "component categories" not in k)
    c.check(left == [], "and unregisters it: %r" % left[:6])


if __name__ == "__main__":
    sys.exit(main())
