#!/usr/bin/env python3
"""Writes the check line of one payload: check_line.py <payload> <name> <output>.

The line is the payload's CRC-32 as eight lower-case hexadecimal digits, a blank, "?CRC32*",
the name and CR LF; the updater reads only the number."""
import sys
import zlib


def main():
    payload, name, output = sys.argv[1:4]
    with open(payload, "rb") as f:
        crc = zlib.crc32(f.read()) & 0xFFFFFFFF
    line = ("%08x ?CRC32*%s\r\n" % (crc, name)).encode("ascii")
    with open(output, "wb") as f:
        f.write(line)


main()
