"""The shipped files of both targets: the right machine; pelradio.exe's subsystem and resources; the
control's exports by their plain names and, for i686, with the stack each one clears; and nothing
imported that a fresh Windows lacks (the compiler's own runtime DLLs)."""
import os
import re
import struct
import subprocess
import sys

from harness import BUILD_DIR, Checks

RT_CURSOR, RT_BITMAP, RT_ICON, RT_GROUP_CURSOR, RT_GROUP_ICON, RT_VERSION = 1, 2, 3, 12, 14, 16


class PeFile:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        pe, = struct.unpack_from("<I", self.data, 0x3C)
        assert self.data[pe:pe + 4] == b"PE\0\0"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        opt = pe + 24
        self.magic, = struct.unpack_from("<H", self.data, opt)
        self.subsystem, = struct.unpack_from("<H", self.data, opt + 68)
        directories = opt + (96 if self.magic == 0x10B else 112)
        self.image_base, = (struct.unpack_from("<I", self.data, opt + 28) if self.magic == 0x10B
                            else struct.unpack_from("<Q", self.data, opt + 24))
        self.export_rva, _ = struct.unpack_from("<II", self.data, directories)
        self.import_rva, _ = struct.unpack_from("<II", self.data, directories + 8)
        self.resource_rva, _ = struct.unpack_from("<II", self.data, directories + 2 * 8)
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            size, rva, raw_size, raw = struct.unpack_from("<IIII", self.data, at + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(rva)

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):
        """{name: rva} of the functions exported by name."""
        at = self.offset(self.export_rva)
        count, functions, names, ordinals = struct.unpack_from("<IIHHIIIIIII", self.data, at)[7:]
        found = {}
        for i in range(count):
            name_rva, = struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)
            ordinal, = struct.unpack_from("<H", self.data, self.offset(ordinals) + 2 * i)
            rva, = struct.unpack_from("<I", self.data, self.offset(functions) + 4 * ordinal)
            found[self.string(name_rva)] = rva
        return found

    def imports(self):
        """The names of the DLLs imported, lower case."""
        found, at = [], self.offset(self.import_rva)
        while True:
            name_rva, = struct.unpack_from("<I", self.data, at + 12)
            if not name_rva:
                return found
            found.append(self.string(name_rva).lower())
            at += 20

    def resources(self):
        """{type: [id, ...]} for the resources named by number."""
        base = self.offset(self.resource_rva)

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                yield ident, target

        found = {}
        for kind, sub in entries(0):
            if sub & 0x80000000:
                found[kind] = sorted(i for i, _ in entries(sub & 0x7FFFFFFF) if not i & 0x80000000)
        return found


# What the system of every supported Windows has; the compiler's runtime (libgcc_s_*, libstdc++-6,
# libwinpthread-1) is not among them and must be linked in.
# oleacc (Active Accessibility) has come with Windows since 98 and 2000.
SYSTEM_DLLS = {"advapi32.dll", "crypt32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleacc.dll",
               "oleaut32.dll", "secur32.dll", "shell32.dll", "user32.dll", "wininet.dll", "winmm.dll", "ws2_32.dll"}

# The exports a loader and regsvr32 look up, and the bytes of arguments each clears as a 32-bit
# stdcall function: a cdecl DllGetClassObject would leave its caller's stack 12 bytes off.
OCX_EXPORTS = {"DllCanUnloadNow": 0, "DllGetClassObject": 12, "DllRegisterServer": 0, "DllUnregisterServer": 0}
# Loaded at the first secure connection, not with the control: they cost every start about 40 ms.
OCX_LATE_DLLS = {"crypt32.dll", "secur32.dll"}


def cleared_bytes(path, address):
    """The operand of the first return instruction at or after address (0 for a plain ret)."""
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", "--start-address=%#x" % address,
                              "--stop-address=%#x" % (address + 0x400), path],
                             capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        m = re.search(r"\tret\s*(\$0x([0-9a-f]+))?", line)
        if m:
            return int(m.group(2), 16) if m.group(2) else 0
    return None


def check_ocx(c, arch, path, machine):
    pe = PeFile(path)
    c.check(pe.machine == machine, "%s kelplayerx.ocx: machine %#x" % (arch, pe.machine))
    exports = pe.exports()
    c.check(sorted(exports) == sorted(OCX_EXPORTS), "%s kelplayerx.ocx exports by plain name: %s"
            % (arch, " ".join(sorted(exports))))
    early = sorted(set(pe.imports()) & OCX_LATE_DLLS)
    c.check(not early, "%s kelplayerx.ocx leaves the TLS libraries for the first secure connection (imports %s)"
            % (arch, early or "neither"))
    if machine == 0x14C:
        for name, size in sorted(OCX_EXPORTS.items()):
            if name in exports:
                cleared = cleared_bytes(path, pe.image_base + exports[name])
                c.check(cleared == size, "i686 %s returns clearing %s bytes of arguments (stdcall: %d)"
                        % (name, cleared, size))


def check_pelradio(c, arch, path, machine, magic):
    pe = PeFile(path)
    kind = "PE32+" if pe.magic == 0x20B else "PE32"
    c.check((pe.machine, pe.magic) == (machine, magic), "%s: machine %#x, %s" % (arch, pe.machine, kind))
    c.check(pe.subsystem == 2, "%s: Windows GUI subsystem (%d)" % (arch, pe.subsystem))
    res = pe.resources()
    c.check(res.get(RT_GROUP_ICON) == [1, 10, 11, 12], "%s: the program icon and TRAY(0..2): %r"
            % (arch, res.get(RT_GROUP_ICON)))
    c.check(res.get(RT_GROUP_CURSOR) == [20], "%s: the hand pointer: %r" % (arch, res.get(RT_GROUP_CURSOR)))
    c.check(res.get(RT_BITMAP) == [100, 101, 102, 103, 110, 111, 112, 113, 120, 121, 122, 123, 124, 125],
            "%s: the skin's fourteen pictures: %r" % (arch, res.get(RT_BITMAP)))
    c.check(RT_VERSION in res, "%s: a version resource" % arch)


def main():
    c = Checks()
    top = os.path.dirname(BUILD_DIR)
    for arch, machine, magic in (("x86_64", 0x8664, 0x20B), ("i686", 0x14C, 0x10B)):
        ocx = os.path.join(top, arch, "control", "kelplayerx.ocx")
        exe = os.path.join(top, arch, "player", "pelradio.exe")
        if not (os.path.exists(ocx) and os.path.exists(exe)):
            c.check(False, "%s kelplayerx.ocx and pelradio.exe were built" % arch)
            continue
        check_ocx(c, arch, ocx, machine)
        check_pelradio(c, arch, exe, machine, magic)
        for path in (ocx, exe):
            foreign = sorted(set(PeFile(path).imports()) - SYSTEM_DLLS)
            c.check(not foreign, "%s %s imports only system DLLs (others: %s)"
                    % (arch, os.path.basename(path), foreign or "none"))
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
