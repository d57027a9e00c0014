"""The Windows Installer package under Wine, in a fresh private prefix: an older package installed,
then upgraded in place by this build's one (one entry in the list of programs, the new files), the
files, the shortcut, the entry and the control's registry keys there, those keys equal to what
DllRegisterServer writes, pelradio started from its installed folder and the control created by
its ProgID from a script, both playing the bundled station; then a silent removal that leaves
nothing of ours (the shared component categories aside) and the listener's recordings as they were."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

from harness import BUILD_DIR, SOURCE_DIR, WINE_RUN, Checks, wait_for
from pelradio import STREAM_PORT, Player, TestStation

VERSION = ".".join(open(os.path.join(BUILD_DIR, "Version.h")).read().split('KELPLAYERX_VERSION_TEXT "')[1].split('"')[0]
                   .split(", "))
PACKAGE = os.path.join(BUILD_DIR, "pelradio-%s-x86_64.msi" % VERSION)
OLD_VERSION = "1.0.0"
INSTALLED = "drive_c/Program Files/Pellora Player"
# What our registration writes under Software\Classes, the 32-bit view's interface keys included.
OURS = re.compile(r"^software\\classes\\(wow6432node\\)?(clsid\\\{(a9606593|78594e0e)|kelplayerx\.|typelib\\\{6777bb2f|"
                  r"interface\\\{(f0a8bef2|90b404ef)|component categories\\\{7dd9580[12])")
# Anything of ours, anywhere, after removal (the shared categories are not ours alone).
TRACES = re.compile(r"pellora|kelplayer|a9606593|78594e0e|6777bb2f|f0a8bef2|90b404ef", re.I)


def read_registry(prefix):
    """{key: {name: value}} of the prefix's machine and user hives, keys and names in lower case."""
    result = {}
    for hive, root in (("system.reg", "hklm"), ("user.reg", "hkcu")):
        key = None
        with open(os.path.join(prefix, hive), encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("["):
                    key = root + "\\" + line[1:line.rindex("]")].replace("\\\\", "\\").lower()
                    result.setdefault(key, {})
                elif key and (line.startswith('"') or line.startswith("@")) and "=" in line:
                    name, _, value = line.partition("=") if line.startswith("@") else line[1:].partition('"=')
                    result[key][name.lower()] = value.replace("\\\\", "\\")
    return result


def classes(registry):
    """Our part of Software\\Classes as a set of (key, name, value), paths made comparable."""
    out = set()
    for key, values in registry.items():
        if not key.startswith("hklm\\"):
            continue
        short = key[5:]
        if not OURS.match(short):
            continue
        out.add((short, None, None))
        for name, value in values.items():
            # HELPDIR names the folder; the installer's folder property carries a trailing backslash.
            out.add((short, name, value.lower().replace('\\"', '"').rstrip('"').rstrip("\\") + '"'))
    return out


def files(prefix):
    found = set()
    for top, dirs, names in os.walk(os.path.join(prefix, "drive_c")):
        for name in dirs + names:
            found.add(os.path.relpath(os.path.join(top, name), prefix))
    return found


def our_entries(registry):
    """The list of installed programs' entries of ours: {key: values}."""
    return {k: v for k, v in registry.items()
            if "\\currentversion\\uninstall\\" in k and v.get("displayname", "").strip('"') == "Pellora Player"}


class Prefix:
    """A fresh private Wine prefix within the test environment (display and sound shared)."""

    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, TESTENV_WINEPREFIX=path)

    def run(self, *args, timeout=120):
        done = subprocess.run([WINE_RUN, *args], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)
        return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r", "")

    def settle(self):
        """Ends the prefix's server, which writes its registry to disk (the test environment's
        servers otherwise linger for a minute), and waits until it has gone."""
        env = dict(self.env, WINEPREFIX=self.path)
        subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["/usr/lib/wine/wineserver64", "-w"], env=env)

    def stop(self):
        subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=dict(self.env, WINEPREFIX=self.path),
                       stderr=subprocess.DEVNULL)


def windows(path):
    return "Z:" + path.replace("/", "\\")


def main():
    c = Checks()
    work = tempfile.mkdtemp(prefix="installer-")
    try:
        test(c, work)
    finally:
        for name in ("prefix", "registered"):
            if os.path.isdir(os.path.join(work, name)):
                Prefix(os.path.join(work, name)).stop()
        shutil.rmtree(work, ignore_errors=True)
    return c.finish()


def check_i686_tables(c):
    """The i686 package cannot be installed here (no 32-bit Wine loader): its tables are read instead."""
    package = os.path.join(BUILD_DIR, "..", "i686", "pelradio-%s-i686.msi" % VERSION)
    if not os.path.isfile(package):
        print("skip: no i686 package beside this build (tools/build.sh all makes one)")
        return

    def table(name):
        return subprocess.run(["msiinfo", "export", package, name], stdout=subprocess.PIPE, check=True,
                              text=True).stdout.splitlines()[3:]
    components = {row.split("\t")[0]: int(row.split("\t")[3]) for row in table("Component")}
    c.check(components and all(a & 256 == 0 for a in components.values()), "i686: 32-bit components: %r" % components)
    c.check(components.get("Categories", 0) & 16 == 16, "i686: the shared categories' component is permanent")
    directories = table("Directory")
    c.check(any(row.startswith("ProgramFilesFolder\t") for row in directories), "i686: installs under the 32-bit Program Files")
    registry = table("Registry")
    c.check(any("\\409\\win32\t" in row for row in registry), "i686: the type library registered for win32")
    c.check(not any("Wow6432Node" in row for row in registry), "i686: no keys in the other view")


def test(c, work):
    check_i686_tables(c)
    c.check(os.path.isfile(PACKAGE), "the build made %s" % os.path.basename(PACKAGE))
    old = os.path.join(work, "pelradio-%s.msi" % OLD_VERSION)
    subprocess.run([os.path.join(SOURCE_DIR, "tools", "make-msi.sh"), "x86_64", BUILD_DIR, OLD_VERSION, "1.0", old],
                   check=True, stderr=subprocess.DEVNULL)

    prefix = Prefix(os.path.join(work, "prefix"))
    prefix.run("wineboot", "-i", timeout=180)
    prefix.settle()
    pristine = os.path.join(work, "pristine")
    shutil.copytree(prefix.path, pristine, symlinks=True)
    before_registry = read_registry(prefix.path)
    before_files = files(prefix.path)

    # The older version first, then this one over it.
    code, out = prefix.run("msiexec", "/i", windows(old), "/qn")
    prefix.settle()
    c.check(code == 0, "the %s package installs silently: %r" % (OLD_VERSION, out[-200:]))
    entries = our_entries(read_registry(prefix.path))
    c.check([v.get("displayversion") for v in entries.values()] == ['"%s"' % OLD_VERSION],
            "one entry of version %s in the list of programs: %r" % (OLD_VERSION, entries))
    code, out = prefix.run("msiexec", "/i", windows(PACKAGE), "/qn")
    prefix.settle()
    c.check(code == 0, "this build's package installs silently over it: %r" % out[-200:])

    registry = read_registry(prefix.path)
    entries = our_entries(registry)
    c.check(len(entries) == 1, "one entry in the list of programs after the upgrade: %d" % len(entries))
    for values in entries.values():
        c.check(values.get("displayversion") == '"%s"' % VERSION, "its version is %s: %s" % (VERSION, values.get("displayversion")))
        c.check(values.get("publisher") == '"Pellora"', "its publisher: %s" % values.get("publisher"))
        # Windows Installer's own command: "MsiExec.exe /I{product}" (Wine, and Windows with a
        # maintenance dialog) or "/X{product}".
        c.check(re.search(r"msiexec\.exe /[ix]\{", values.get("uninstallstring", "").lower()) is not None,
                "an uninstall command: %s" % values.get("uninstallstring"))
    for name in ("pelradio.exe", "kelplayerx.ocx"):
        installed = os.path.join(prefix.path, INSTALLED, name)
        built = os.path.join(BUILD_DIR, "player" if name.endswith(".exe") else "control", name)
        c.check(os.path.isfile(installed) and open(installed, "rb").read() == open(built, "rb").read(),
                "%s is installed in Program Files, as built" % name)
    shortcuts = [f for f in files(prefix.path) if f.lower().endswith("start menu/programs/pellora player.lnk")]
    c.check(len(shortcuts) == 1, "a Start-menu shortcut: %r" % shortcuts)

    # The same control registered by DllRegisterServer in a copy of the pristine prefix, from the same path.
    registered = Prefix(os.path.join(work, "registered"))
    shutil.copytree(pristine, registered.path, symlinks=True)
    os.makedirs(os.path.join(registered.path, INSTALLED))
    shutil.copy(os.path.join(BUILD_DIR, "control", "kelplayerx.ocx"), os.path.join(registered.path, INSTALLED))
    code, out = registered.run("regsvr32", "/s", r"C:\Program Files\Pellora Player\kelplayerx.ocx")
    registered.settle()
    c.check(code == 0, "regsvr32 registers the same file: %r" % out[-200:])
    by_package = classes(registry)
    by_server = classes(read_registry(registered.path))
    c.check(len(by_server) > 40, "DllRegisterServer wrote our keys: %d entries" % len(by_server))
    c.check(by_package == by_server, "the package's registry entries equal DllRegisterServer's: only the package %r, "
            "only the server %r" % (sorted(by_package - by_server)[:6], sorted(by_server - by_package)[:6]))

    # The listener's way in: pelradio from its folder, and a script creating the control by its ProgID.
    with TestStation(lifetime=90) as station:
        player = Player(exe=os.path.join(prefix.path, INSTALLED, "pelradio.exe"), env={"TESTENV_WINEPREFIX": prefix.path})
        c.check(player.window is not None, "the installed pelradio shows its window")
        c.check(wait_for(lambda: station.opened() >= 1, 20), "and plays the station: %d connections" % station.opened())
        c.check(player.close(), "it ends by its close box")
    with TestStation(lifetime=60) as station:
        code, out = prefix.run("cscript", "//nologo", windows(os.path.join(SOURCE_DIR, "tests", "installer_play.vbs")),
                               "http://127.0.0.1:%d/" % STREAM_PORT)
        c.check(code == 0 and out.rstrip().endswith("done"), "a script creates the control by its ProgID: %r" % out[-200:])
        c.check(station.opened() >= 1, "and it plays the station: %d connections" % station.opened())

    # A recording the listener made stays; nothing else of ours does.
    music = os.path.join(prefix.path, "drive_c/users/Public/Music")
    os.makedirs(music, exist_ok=True)
    recording = os.path.join(music, "PELLORA_recording.mp3")
    with open(recording, "wb") as f:
        f.write(b"\xff\xfb\x90\x00recorded")
    product = [k.rsplit("\\", 1)[1] for k in our_entries(read_registry(prefix.path))]
    code, out = prefix.run("msiexec", "/x", product[0] if product else "{}", "/qn")
    prefix.settle()
    c.check(code == 0, "it is removed silently: %r" % out[-200:])
    after_registry = read_registry(prefix.path)
    left = sorted(k for k in set(after_registry) - set(before_registry) if TRACES.search(k)
                  and "component categories" not in k)
    left += sorted("%s: %s=%s" % (k, n, v) for k, vals in after_registry.items() for n, v in vals.items()
                   if TRACES.search(v) and "component categories" not in k)
    c.check(left == [], "no registry key or value of ours is left: %r" % left[:8])
    left_files = sorted(f for f in files(prefix.path) - before_files if TRACES.search(f) and f != os.path.relpath(recording, prefix.path))
    c.check(left_files == [], "no file, folder or shortcut of ours is left: %r" % left_files[:8])
    c.check(os.path.isfile(recording) and open(recording, "rb").read() == b"\xff\xfb\x90\x00recorded",
            "the listener's recording is untouched")
    categories = [k for k in after_registry if re.search(r"component categories\\\{7dd9580[12]", k)]
    c.check(len(categories) == 2, "the shared safe-for-scripting categories stay: %r" % categories)


if __name__ == "__main__":
    sys.exit(main())
