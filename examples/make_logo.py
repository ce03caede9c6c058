#!/usr/bin/env python3
"""Draws examples/logo.png, the project's own emblem for the logo-fire and burn examples: an open
ring and a flame drop, white on transparency, anti-aliased by 4 x 4 supersampling. Standard library
only; run it again to regenerate the file (the output is deterministic)."""
import math
import os
import struct
import zlib

WIDTH, HEIGHT, SAMPLES = 400, 200, 4


def inside(x, y):
    # Open ring: an annulus around (100, 100) with a gap facing right.
    dx, dy = x - 100.0, y - 100.0
    r = math.hypot(dx, dy)
    if 52.0 <= r <= 80.0 and abs(math.degrees(math.atan2(dy, dx))) > 38.0:
        return True
    # Flame drop: a disc at (270, 128) that narrows to a point at (270, 22).
    dx, dy = x - 270.0, y - 128.0
    if math.hypot(dx, dy) <= 48.0:
        return True
    if 22.0 <= y <= 128.0:
        t = (y - 22.0) / (128.0 - 22.0)
        return abs(dx) <= 48.0 * t ** 1.6
    return False


def coverage(px, py):
    hits = 0
    for j in range(SAMPLES):
        for i in range(SAMPLES):
            if inside(px + (i + 0.5) / SAMPLES, py + (j + 0.5) / SAMPLES):
                hits += 1
    return hits * 255 // (SAMPLES * SAMPLES)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    rows = bytearray()
    for y in range(HEIGHT):
        rows.append(0)  # filter: none
        for x in range(WIDTH):
            rows += bytes((255, 255, 255, coverage(x, y)))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo.png"), "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
