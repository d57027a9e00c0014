"""The shipped pelradio.exe of both targets: GUI subsystem, the right machine, and its resources."""
import os
import struct
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


def main():
    c = Checks()
    top = os.path.dirname(BUILD_DIR)
    for arch, machine, magic in (("x86_64", 0x8664, 0x20B), ("i686", 0x14C, 0x10B)):
        path = os.path.join(top, arch, "player", "pelradio.exe")
        if not os.path.exists(path):
            c.check(False, "%s pelradio.exe was built" % arch)
            continue
        pe = PeFile(path)
        c.check((pe.machine, pe.magic) == (machine, magic), "%s: machine %#x, %s" % (arch, pe.machine,
                                                                                   "PE32+" if pe.magic == 0x20B else "PE32"))
        c.check(pe.subsystem == 2, "%s: Windows GUI subsystem (%d)" % (arch, pe.subsystem))
        res = pe.resources()
        c.check(res.get(RT_GROUP_ICON) == [1, 10, 11, 12], "%s: the program icon and TRAY(0..2): %r"
                % (arch, res.get(RT_GROUP_ICON)))
        c.check(res.get(RT_GROUP_CURSOR) == [20], "%s: the hand pointer: %r" % (arch, res.get(RT_GROUP_CURSOR)))
        c.check(res.get(RT_BITMAP) == [100, 101, 102, 103, 110, 111, 112, 113, 120, 121, 122, 123, 124, 125],
                "%s: the skin's fourteen pictures: %r" % (arch, res.get(RT_BITMAP)))
        c.check(RT_VERSION in res, "%s: a version resource" % arch)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main())
