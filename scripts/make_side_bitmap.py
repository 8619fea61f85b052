#!/usr/bin/env python3
"""Draws the picture on the wizard's side panel into resources/side.bmp.

A narrow alpine scene for Stelvane: a sky that darkens upwards, a snow-capped ridge and a valley
below, 32 x 160 pixels at 24 bits per pixel, shown at its real size. Only the standard library
is used, and the same script always writes the same bytes:

    python3 scripts/make_side_bitmap.py
"""

import pathlib
import struct

WIDTH, HEIGHT = 32, 160


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def ridge(x):
    """Height of the mountain line above the picture's bottom, in pixels."""
    peaks = [(4, 70), (14, 96), (25, 78), (31, 84)]
    for (x0, h0), (x1, h1) in zip(peaks, peaks[1:]):
        if x0 <= x <= x1:
            return h0 + (h1 - h0) * (x - x0) / (x1 - x0)
    return peaks[0][1] if x < peaks[0][0] else peaks[-1][1]


def pixel(x, y):
    from_bottom = HEIGHT - 1 - y
    top = ridge(x)
    if from_bottom > top:
        return mix((38, 76, 140), (180, 208, 236), y / (HEIGHT - top))
    if from_bottom > top - 14:
        return (246, 248, 252)
    if from_bottom > 22:
        return mix((92, 98, 110), (70, 76, 88), (top - from_bottom) / top)
    return mix((84, 130, 72), (60, 104, 56), from_bottom / 22)


def bitmap():
    row_size = (WIDTH * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(HEIGHT)):
        row = b"".join(bytes(reversed(pixel(x, y))) for x in range(WIDTH))
        rows.append(row + b"\0" * (row_size - len(row)))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


if __name__ == "__main__":
    target = pathlib.Path(__file__).resolve().parent.parent / "resources" / "side.bmp"
    target.write_bytes(bitmap())
