#!/usr/bin/env python3
"""Prints the numeric file version (a.b.c.d) of a Windows program or DLL,
read from the VS_FIXEDFILEINFO of its version block; exits 1 without one."""

import struct
import sys

FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def file_version(data):
    at = data.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0 or at + 16 > len(data):
        return None
    _, _, ms, ls = struct.unpack_from("<IIII", data, at)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        version = file_version(f.read())
    if version is None:
        sys.exit(f"{sys.argv[1]}: no version block")
    print(version)
