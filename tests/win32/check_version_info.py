#!/usr/bin/env python3
"""Checks that Windows programs carry a version resource: product, description and version.

Usage: check_version_info.py VERSION PROGRAM...
Looks for the fixed file-info record (signature 0xFEEF04BD) with VERSION as its file version,
and the UTF-16 strings ProductName "Zarn Update", a FileDescription and ProductVersion VERSION."""
import struct
import sys


def utf16(text):
    return text.encode("utf-16-le")


def check(path, version):
    data = open(path, "rb").read()
    problems = []
    sig = data.find(struct.pack("<I", 0xFEEF04BD))
    if sig < 0:
        return ["no fixed file-info record"]
    ms, ls = struct.unpack_from("<II", data, sig + 8)
    parts = [int(p) for p in version.split(".")] + [0] * 4
    if (ms, ls) != ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]):
        problems.append("file version %d.%d.%d.%d, not %s" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF, version))
    for key, value in (("ProductName", "Zarn Update"), ("ProductVersion", version),
                       ("FileVersion", version), ("FileDescription", "")):
        at = data.find(utf16(key) + b"\0\0")
        if at < 0:
            problems.append("no %s" % key)
        elif value and data.find(utf16(value), at, at + 200) < 0:
            problems.append("%s is not %s" % (key, value))
    return problems


def main():
    version, programs = sys.argv[1], sys.argv[2:]
    failed = 0
    for path in programs:
        problems = check(path, version)
        failed += bool(problems)
        print("%s: %s" % (path, "; ".join(problems) if problems else "version resource " + version))
    print("%d passed, %d failed" % (len(programs) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
