#!/usr/bin/env python3
"""Draws the program's icon (a camera lens on a rounded green tile) and
writes it as a multi-size .ico with 32-bit BMP images."""
import math
import struct
import sys

SIZES = (16, 24, 32, 48, 64, 256)
TILE = (0x3D, 0xDC, 0x84)   # live green
DARK = (0x23, 0x26, 0x2C)   # window frame colour
LIGHT = (0xF2, 0xF4, 0xF7)


def coverage(inside, x, y, n=4):
    """Fraction of the pixel at (x, y) for which inside(px, py) holds."""
    hits = 0
    for i in range(n):
        for j in range(n):
            if inside(x + (i + 0.5) / n, y + (j + 0.5) / n):
                hits += 1
    return hits / (n * n)


def pixel(size, x, y):
    s = size
    r = 0.22 * s
    def tile(px, py):
        dx = max(r - px, 0, px - (s - r))
        dy = max(r - py, 0, py - (s - r))
        return dx * dx + dy * dy <= r * r
    c = s / 2
    def ring(px, py):
        d = math.hypot(px - c, py - c)
        return 0.20 * s <= d <= 0.34 * s
    def lens(px, py):
        return math.hypot(px - c, py - c) < 0.20 * s
    def glint(px, py):
        return math.hypot(px - (c - 0.07 * s), py - (c - 0.07 * s)) < 0.05 * s
    a = coverage(tile, x, y)
    if a == 0:
        return (0, 0, 0, 0)
    col = TILE
    for inside, colour in ((ring, DARK), (lens, LIGHT), (glint, DARK)):
        k = coverage(inside, x, y)
        col = tuple(round(col[i] * (1 - k) + colour[i] * k) for i in range(3))
    return col + (round(a * 255),)


def bmp_image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    images = [bmp_image(s) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(SIZES)))
    offset = 6 + 16 * len(SIZES)
    for s, img in zip(SIZES, images):
        dim = 0 if s >= 256 else s
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
