"""Prints a Windows program's file version (1.1.0.3) from its version resource's fixed part."""
import struct
import sys

SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def file_version(data):
    at = data.find(SIGNATURE)
    if at < 0:
        return None
    most, least = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


if __name__ == "__main__":
    version = file_version(open(sys.argv[1], "rb").read())
    if version is None:
        sys.exit("pe_version: %s has no version resource" % sys.argv[1])
    print(version)
