#!/usr/bin/env python3
"""Writes the programs' 32x32, 16-colour icons: make_icon.py <out.ico> <service|updater>.

A counting box (a dark case with a lit display) for the service; the same box with a green
arrow for the updater. Kept as a script so the icons can be redrawn rather than edited as bytes.
"""
import struct
import sys

PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def draw(kind):
    px = [[None] * 32 for _ in range(32)]  # None = transparent
    for y in range(4, 28):
        for x in range(3, 29):
            px[y][x] = 4 if 4 < y < 27 and 3 < x < 28 else 0
    for y in range(8, 15):
        for x in range(7, 25):
            px[y][x] = 10 if (x + y) % 5 else 2
    for x in (9, 15, 21):
        for y in range(19, 24):
            for dx in range(3):
                px[y][x + dx] = 11
    if kind == "updater":
        for i in range(8):
            for x in range(22 - i, 23 + i):
                px[16 + i][x + 4 if x + 4 < 32 else 31] = 10
    return px


def ico(px):
    xor = b""
    and_mask = b""
    for y in range(31, -1, -1):  # bottom-up rows
        row = px[y]
        nibbles = [c if c is not None else 0 for c in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, 32, 2))
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        and_mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(and_mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = header + palette + xor + and_mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22) + image


with open(sys.argv[1], "wb") as f:
    f.write(ico(draw(sys.argv[2])))
