"""The Windows Installer packages under Wine, in a fresh private 64-bit prefix: an earlier release's package
installed, then upgraded in place by this build's one (one entry in the list of programs, at the new
version, with the new files); the files, the shortcut, the entry and the control's registry keys there, in
both views: the 64-bit control's equal to what its DllRegisterServer writes, the i686 control's equal to what
the i686 DllRegisterServer writes in the 32-bit view; an older package refused with its message; another build
of the same release replacing this one; the i686 package installed beside it and removed again, leaving it
working; pelradio started from its installed folder and the control created by its ProgID from a script, both
playing the bundled station; then a silent removal that leaves nothing of ours in either view (the shared
component categories aside) and the listener's recordings as they were."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading

from harness import ARCH, BUILD_DIR, SOURCE_DIR, WINE_RUN, Checks, Station, wait_for
from pelradio import Player, TestStation

VERSION = ".".join(open(os.path.join(BUILD_DIR, "Version.h")).read().split('KELPLAYERX_VERSION_TEXT "')[1].split('"')[0]
                   .split(", "))
# The tree's own package: in the i686 tree, the one for 32-bit Windows, which the x86_64 tree's run installs
# only beside its own.
PACKAGE = os.path.join(BUILD_DIR, "pelradio-%s-%s.msi" % (VERSION, ARCH))
I686_DIR = os.path.join(BUILD_DIR, "..", "i686")
PACKAGE_I686 = os.path.join(I686_DIR, "pelradio-%s-i686.msi" % VERSION)
CONTROL32 = os.path.join(I686_DIR, "control", "kelplayerx.ocx")
# An earlier release: the same fourth field's neighbour, which Windows Installer alone would not tell apart.
OLD_RELEASE = "1.1.0.2"
INSTALLED = "drive_c/Program Files/Pellora Player"
INSTALLED32 = "drive_c/Program Files (x86)/Pellora Player"
DOWNGRADE_MESSAGE = "A newer release of Pellora Player is already installed. Remove it before installing this older one."
# What our registration writes under Software\Classes, in either view.
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
            out.add((short, name, value))
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


CLASSES = "software\\classes\\"
WOW = CLASSES + "wow6432node\\"
# The type library's key is one for both views (as on Windows); the rest of our classes are kept per view.
SHARED = CLASSES + "typelib\\"


class ScriptStation(Station):
    """The bundled station on free ports, logging its stream connections: a script is given its address, so it
    need not take pelradio's own port, which other tests may hold."""

    def __init__(self, lifetime):
        super().__init__("--log-connections", lifetime=lifetime)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.strip())

    def opened(self):
        return sum(1 for line in self.lines if line.startswith("OPEN "))


def view32(entries):
    """What a 32-bit program sees of our classes."""
    return {e for e in entries if e[0].startswith(WOW) or e[0].startswith(SHARED)}


def view64(entries):
    """What a 64-bit program sees of our classes."""
    return {e for e in entries if not e[0].startswith(WOW)}


def with_32bit_registration(registered64, registered32):
    """What the i686 DllRegisterServer and then the x86_64 one write, from what the x86_64 one wrote, alone, for
    the 64-bit folder and for the 32-bit one. The control's registration code is the same source for both; what
    differs is decided beneath it: a 32-bit process's keys land in the 32-bit view but for the type library's
    key, which both views share, where RegisterTypeLib names the platform from the library itself (win32 for
    the i686 build's), and the later registration leaves the existing HELPDIR as it is. RegisterTypeLib names
    the interfaces in both views from either kind of process (Wine's oleaut32: its own view and the opposite
    one), so those are the 64-bit registration's too."""
    out = {e for e in registered64 if not (e[0].startswith(SHARED) and e[0].endswith("\\helpdir"))}
    for key, name, value in registered32:
        if key.startswith(SHARED):
            key = key.replace("\\409\\win64", "\\409\\win32")
        elif not key.startswith(WOW):
            key = WOW + key[len(CLASSES):]
        out.add((key, name, value))
    return out


def table(package, name):
    return [row.split("\t") for row in subprocess.run(["msiinfo", "export", package, name], stdout=subprocess.PIPE,
                                                      check=True, text=True).stdout.splitlines()[3:]]


def product_version(package):
    return {row[0]: row[1] for row in table(package, "Property")}["ProductVersion"]


def upgrade_code(package):
    return {row[0]: row[1] for row in table(package, "Property")}["UpgradeCode"]


def file_version(path):
    return subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "pe_version.py"), path],
                          stdout=subprocess.PIPE, check=True, text=True).stdout.strip()


def make_package(tree, release, out, control32):
    subprocess.run([os.path.join(SOURCE_DIR, "tools", "make-msi.sh"), "x86_64", tree, release, "1.0", out, control32],
                   check=True, stderr=subprocess.DEVNULL)


def older_tree(work):
    """A build tree of an earlier release: the same programs with bytes of their own, so that an upgrade shows
    which files it left."""
    tree = os.path.join(work, "older")
    for name in ("player/pelradio.exe", "control/kelplayerx.ocx"):
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        shutil.copy(os.path.join(BUILD_DIR, name), os.path.join(tree, name))
    shutil.copy(CONTROL32, os.path.join(tree, "control32.ocx"))
    for name in ("player/pelradio.exe", "control/kelplayerx.ocx", "control32.ocx"):
        with open(os.path.join(tree, name), "ab") as f:
            f.write(b"an earlier release")
    return tree


def main():
    c = Checks()
    work = tempfile.mkdtemp(prefix="installer-")
    try:
        test(c, work) if ARCH == "x86_64" else test_i686(c, work)
    finally:
        for name in ("prefix", "registered"):
            if os.path.isdir(os.path.join(work, name)):
                Prefix(os.path.join(work, name)).stop()
        shutil.rmtree(work, ignore_errors=True)
    return c.finish()


def check_tables(c):
    """What the packages say before anything is installed: versions, file versions, components, upgrade codes."""
    for package in (PACKAGE, PACKAGE_I686):
        base = os.path.basename(package)
        files = {row[0]: row for row in table(package, "File")}
        components = {row[0]: row for row in table(package, "Component")}
        sources = {"pelradio.exe": os.path.join(os.path.dirname(package), "player", "pelradio.exe"),
                   "kelplayerx.ocx": os.path.join(os.path.dirname(package), "control", "kelplayerx.ocx"),
                   "kelplayerx32.ocx": CONTROL32}
        c.check(set(files) == set(sources) if package == PACKAGE else set(files) == {"pelradio.exe", "kelplayerx.ocx"},
                "%s: the files are %r" % (base, sorted(files)))
        for file_id, row in files.items():
            if file_id not in sources:
                continue
            c.check(row[4] == file_version(sources[file_id]), "%s: %s has its version %s in the file table: %r"
                    % (base, file_id, file_version(sources[file_id]), row[4]))
            owners = [name for name, comp in components.items() if comp[5] == file_id]
            c.check(len(owners) == 1 and sum(1 for f in files.values() if f[1] == owners[0]) == 1,
                    "%s: %s is alone in its component, its key path: %r" % (base, file_id, owners))
        helpdirs = [row[4] for row in table(package, "Registry") if row[2].endswith("\\HELPDIR")]
        c.check(helpdirs and all(not h.endswith("]") and not h.endswith("\\") for h in helpdirs),
                "%s: HELPDIR names its folder without a trailing backslash: %r" % (base, helpdirs))
    c.check(upgrade_code(PACKAGE) != upgrade_code(PACKAGE_I686), "the two targets' packages have upgrade codes of their own")
    i686 = {row[0]: row for row in table(PACKAGE_I686, "Component")}
    x64 = {row[0]: row for row in table(PACKAGE, "Component")}
    c.check(all(name in i686 for name in ("Control", "Categories")) and
            all(name in x64 for name in ("Control32", "Categories32")) and
            i686["Control"][1] == x64["Control32"][1] and i686["Categories"][1] == x64["Categories32"][1],
            "the i686 control's components are the x86_64 package's 32-bit ones: %r, %r" % (sorted(i686), sorted(x64)))
    c.check(all(int(row[3]) & 256 == 0 for row in i686.values()), "i686: 32-bit components only")
    c.check(not any("Wow6432Node" in row[2] for row in table(PACKAGE_I686, "Registry")), "i686: no keys in the other view")
    c.check(all(int(components.get(name, ["", "", "", "0"])[3]) & 16 for components, name in
                ((i686, "Categories"), (x64, "Categories"), (x64, "Categories32"))),
            "the shared categories' components are permanent")


def test(c, work):
    for path in (PACKAGE, PACKAGE_I686, CONTROL32):
        if not os.path.isfile(path):
            c.check(False, "the build made %s (tools/build.sh builds the i686 tree too)" % path)
            return
    check_tables(c)
    old = os.path.join(work, "pelradio-%s.msi" % OLD_RELEASE)
    make_package(older_tree(work), OLD_RELEASE, old, os.path.join(work, "older", "control32.ocx"))
    new_version = product_version(PACKAGE)
    c.check(tuple(map(int, new_version.split(".")[:3])) > tuple(map(int, product_version(old).split(".")[:3])),
            "release %s's package version %s is above %s's, %s, in its first three fields"
            % (VERSION, new_version, OLD_RELEASE, product_version(old)))

    prefix = Prefix(os.path.join(work, "prefix"))
    prefix.run("wineboot", "-i", timeout=180)
    prefix.settle()
    pristine = os.path.join(work, "pristine")
    shutil.copytree(prefix.path, pristine, symlinks=True)
    before_registry = read_registry(prefix.path)
    before_files = files(prefix.path)

    # The earlier release first, then this one over it.
    code, out = prefix.run("msiexec", "/i", windows(old), "/qn")
    prefix.settle()
    c.check(code == 0, "the %s package installs silently: %r" % (OLD_RELEASE, out[-200:]))
    entries = our_entries(read_registry(prefix.path))
    c.check([v.get("displayversion") for v in entries.values()] == ['"%s"' % product_version(old)],
            "one entry of %s in the list of programs: %r" % (OLD_RELEASE, entries))
    code, out = prefix.run("msiexec", "/i", windows(PACKAGE), "/qn")
    prefix.settle()
    c.check(code == 0, "this build's package installs silently over it: %r" % out[-200:])

    registry = read_registry(prefix.path)
    entries = our_entries(registry)
    c.check(len(entries) == 1, "one entry in the list of programs after the upgrade: %d" % len(entries))
    for values in entries.values():
        c.check(values.get("displayversion") == '"%s"' % new_version, "its version is %s: %s" % (new_version, values.get("displayversion")))
        c.check(values.get("publisher") == '"Pellora"', "its publisher: %s" % values.get("publisher"))
        # Windows Installer's own command: "MsiExec.exe /I{product}" (Wine, and Windows with a
        # maintenance dialog) or "/X{product}".
        c.check(re.search(r"msiexec\.exe /[ix]\{", values.get("uninstallstring", "").lower()) is not None,
                "an uninstall command: %s" % values.get("uninstallstring"))
    for folder, name, built in ((INSTALLED, "pelradio.exe", os.path.join(BUILD_DIR, "player", "pelradio.exe")),
                                (INSTALLED, "kelplayerx.ocx", os.path.join(BUILD_DIR, "control", "kelplayerx.ocx")),
                                (INSTALLED32, "kelplayerx.ocx", CONTROL32)):
        installed = os.path.join(prefix.path, folder, name)
        c.check(os.path.isfile(installed) and open(installed, "rb").read() == open(built, "rb").read(),
                "%s is installed in %s, as built" % (name, folder.split("/")[1]))
    shortcuts = [f for f in files(prefix.path) if f.lower().endswith("start menu/programs/pellora player.lnk")]
    c.check(len(shortcuts) == 1, "a Start-menu shortcut: %r" % shortcuts)

    # The x86_64 control registered by DllRegisterServer in a copy of the pristine prefix, from the 64-bit
    # folder; then, after its removal, from the 32-bit folder, for what the i686 one writes there.
    registered = Prefix(os.path.join(work, "registered"))
    shutil.copytree(pristine, registered.path, symlinks=True)
    by_server = {}
    for folder in (INSTALLED, INSTALLED32):
        os.makedirs(os.path.join(registered.path, folder), exist_ok=True)
        shutil.copy(os.path.join(BUILD_DIR, "control", "kelplayerx.ocx"), os.path.join(registered.path, folder))
        path = "C:\\" + folder.split("/", 1)[1].replace("/", "\\") + "\\kelplayerx.ocx"
        code, out = registered.run("regsvr32", "/s", path)
        registered.settle()
        c.check(code == 0, "regsvr32 registers %s: %r" % (path, out[-200:]))
        by_server[folder] = classes(read_registry(registered.path))
        registered.run("regsvr32", "/s", "/u", path)
        registered.settle()
    c.check(len(by_server[INSTALLED]) > 40, "DllRegisterServer wrote our keys: %d entries" % len(by_server[INSTALLED]))
    by_package = classes(registry)
    expected = with_32bit_registration(by_server[INSTALLED], by_server[INSTALLED32])
    expected64, expected32 = view64(expected), view32(expected)
    c.check(view64(by_package) == expected64, "the 64-bit view's entries equal the x86_64 DllRegisterServer's after it: only "
            "the package %r, only the server %r" % (sorted(view64(by_package) - expected64, key=repr)[:6],
                                                    sorted(expected64 - view64(by_package), key=repr)[:6]))
    c.check(view32(by_package) == expected32, "the 32-bit view's entries equal the i686 DllRegisterServer's: only "
            "the package %r, only the server %r" % (sorted(view32(by_package) - expected32, key=repr)[:6],
                                                    sorted(expected32 - view32(by_package), key=repr)[:6]))

    # An older package is refused, with its message (Wine's installer shows it in a box titled "Install Failed").
    # An installer that goes ahead may wait in its basic interface: past the time allowed it counts as not refused
    # (the prefix's end stops it).
    reader = subprocess.Popen([WINE_RUN, os.path.join(BUILD_DIR, "tests", "dialog_text.exe"), "Install Failed", "60"],
                              env=prefix.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        code, out = prefix.run("msiexec", "/i", windows(old), "/qb", timeout=90)
    except subprocess.TimeoutExpired:
        code = 0
    shown = reader.communicate(timeout=90)[0].decode("utf-8", "replace").replace("\r", "").strip()
    prefix.settle()
    c.check(code != 0 and shown == DOWNGRADE_MESSAGE, "the %s package is refused with its message: exit %d, %r"
            % (OLD_RELEASE, code, shown))
    entries = our_entries(read_registry(prefix.path))
    c.check([v.get("displayversion") for v in entries.values()] == ['"%s"' % new_version],
            "and this release stays, alone: %r" % [v.get("displayversion") for v in entries.values()])

    # Another build of the same release (a product code of its own) replaces this one.
    rebuilt = os.path.join(work, "rebuilt.msi")
    make_package(BUILD_DIR, VERSION, rebuilt, CONTROL32)
    code, out = prefix.run("msiexec", "/i", windows(rebuilt), "/qn")
    prefix.settle()
    entries = our_entries(read_registry(prefix.path))
    c.check(code == 0 and len(entries) == 1, "another build of %s replaces it: exit %d, %d entries" % (VERSION, code, len(entries)))

    # The i686 package beside it: both stay.
    x64_product = set(our_entries(read_registry(prefix.path)))
    code, out = prefix.run("msiexec", "/i", windows(PACKAGE_I686), "/qn")
    prefix.settle()
    entries = our_entries(read_registry(prefix.path))
    c.check(code == 0 and len(entries) == 2, "the i686 package installs beside it, both listed: exit %d, %d entries"
            % (code, len(entries)))
    c.check(os.path.isfile(os.path.join(prefix.path, INSTALLED32, "pelradio.exe")), "the i686 pelradio is installed")

    # The listener's way in: pelradio from its folder, and a script creating the control by its ProgID.
    with TestStation(lifetime=90) as station:
        player = Player(exe=os.path.join(prefix.path, INSTALLED, "pelradio.exe"), env={"TESTENV_WINEPREFIX": prefix.path})
        c.check(player.window is not None, "the installed pelradio shows its window")
        c.check(wait_for(lambda: station.opened() >= 1, 20), "and plays the station: %d connections" % station.opened())
        c.check(player.close(), "it ends by its close box")

    # Removing the i686 package leaves the x86_64 one working, its 32-bit control included.
    i686_product = [k.rsplit("\\", 1)[1] for k in set(our_entries(read_registry(prefix.path))) - x64_product]
    code, out = prefix.run("msiexec", "/x", i686_product[0] if i686_product else "{}", "/qn")
    prefix.settle()
    registry = read_registry(prefix.path)
    c.check(code == 0 and len(our_entries(registry)) == 1, "the i686 package is removed, the x86_64 one stays: %r"
            % i686_product)
    c.check(not os.path.exists(os.path.join(prefix.path, INSTALLED32, "pelradio.exe")) and
            os.path.isfile(os.path.join(prefix.path, INSTALLED32, "kelplayerx.ocx")),
            "the i686 pelradio goes; the 32-bit control, the x86_64 package's too, stays")
    c.check(view32(classes(registry)) == expected32, "the 32-bit registration stays whole")
    with ScriptStation(lifetime=60) as station:
        code, out = prefix.run("cscript", "//nologo", windows(os.path.join(SOURCE_DIR, "tests", "installer_play.vbs")),
                               station.url)
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
    c.check(left == [], "no registry key or value of ours is left in either view: %r" % left[:8])
    left_files = sorted(f for f in files(prefix.path) - before_files if TRACES.search(f) and f != os.path.relpath(recording, prefix.path))
    c.check(left_files == [], "no file, folder or shortcut of ours is left: %r" % left_files[:8])
    c.check(os.path.isfile(recording) and open(recording, "rb").read() == b"\xff\xfb\x90\x00recorded",
            "the listener's recording is untouched")
    categories = [k for k in after_registry if re.search(r"component categories\\\{7dd9580[12]-[-0-9a-f]+\}$", k)]
    c.check(len(categories) == 4, "the shared safe-for-scripting categories stay, in both views: %r" % categories)



def test_i686(c, work):
    """The i686 package alone, its programs run by the 32-bit loader: installed, registered in the 32-bit view as
    the i686 DllRegisterServer registers, its pelradio and a 32-bit script playing, removed without a trace."""
    prefix = Prefix(os.path.join(work, "prefix"))
    prefix.run("wineboot", "-i", timeout=180)
    prefix.settle()
    registered = Prefix(os.path.join(work, "registered"))
    shutil.copytree(prefix.path, registered.path, symlinks=True)
    before_registry = read_registry(prefix.path)
    before_files = files(prefix.path)

    code, out = prefix.run("msiexec", "/i", windows(PACKAGE), "/qn")
    prefix.settle()
    registry = read_registry(prefix.path)
    c.check(code == 0 and len(our_entries(registry)) == 1, "the i686 package installs silently, one entry: %r" % out[-200:])
    for name, built in (("pelradio.exe", os.path.join(BUILD_DIR, "player", "pelradio.exe")), ("kelplayerx.ocx", CONTROL32)):
        installed = os.path.join(prefix.path, INSTALLED32, name)
        c.check(os.path.isfile(installed) and open(installed, "rb").read() == open(built, "rb").read(),
                "%s is installed in the 32-bit Program Files, as built" % name)

    os.makedirs(os.path.join(registered.path, INSTALLED32), exist_ok=True)
    shutil.copy(CONTROL32, os.path.join(registered.path, INSTALLED32))
    code, out = registered.run("regsvr32", "/s", "C:\\" + INSTALLED32.split("/", 1)[1].replace("/", "\\") + "\\kelplayerx.ocx")
    registered.settle()
    by_server = view32(classes(read_registry(registered.path)))
    c.check(code == 0 and len(by_server) > 40, "the 32-bit regsvr32 registers the control: %d entries" % len(by_server))
    by_package = view32(classes(registry))
    c.check(by_package == by_server, "the 32-bit view's entries equal the i686 DllRegisterServer's: only the package %r, "
            "only the server %r" % (sorted(by_package - by_server, key=repr)[:6], sorted(by_server - by_package, key=repr)[:6]))

    with TestStation(lifetime=90) as station:
        player = Player(exe=os.path.join(prefix.path, INSTALLED32, "pelradio.exe"), env={"TESTENV_WINEPREFIX": prefix.path})
        c.check(player.window is not None, "the installed 32-bit pelradio shows its window")
        c.check(wait_for(lambda: station.opened() >= 1, 20), "and plays the station: %d connections" % station.opened())
        c.check(player.close(), "it ends by its close box")
    with ScriptStation(lifetime=60) as station:
        code, out = prefix.run("cscript", "//nologo", windows(os.path.join(SOURCE_DIR, "tests", "installer_play.vbs")),
                               station.url)
        c.check(code == 0 and out.rstrip().endswith("done"), "a 32-bit script creates the control: %r" % out[-200:])
        c.check(station.opened() >= 1, "and it plays the station: %d connections" % station.opened())

    product = [k.rsplit("\\", 1)[1] for k in our_entries(read_registry(prefix.path))]
    code, out = prefix.run("msiexec", "/x", product[0] if product else "{}", "/qn")
    prefix.settle()
    after_registry = read_registry(prefix.path)
    left = sorted(k for k in set(after_registry) - set(before_registry) if TRACES.search(k) and "component categories" not in k)
    left += sorted(f for f in files(prefix.path) - before_files if TRACES.search(f))
    c.check(code == 0 and left == [], "it is removed silently, leaving nothing of ours: %r" % left[:8])


if __name__ == "__main__":
    sys.exit(main())
