#!/usr/bin/env python3
"""Draws the refresh tool's two icons: a battery lying on its side, half
green (charged) and half amber (discharged), the picture of a refresh cycle.

    tools/make-icons.py <output folder>

writes zbRefresh.ico (32x32 and 16x16) and small.ico (16x16). The icons are
committed; run this again only to change the drawing.
"""
import struct
import sys


def draw(size):
    """Returns size*size BGRA pixels, top row first."""
    transparent = (0, 0, 0, 0)
    outline = (0x40, 0x40, 0x40, 0xFF)
    green = (0x3C, 0xB4, 0x3C, 0xFF)
    amber = (0x20, 0xA0, 0xF0, 0xFF)
    s = size / 32.0
    left, right = round(2 * s), round(27 * s)
    top, bottom = round(8 * s), round(24 * s)
    nub_top, nub_bottom = round(12 * s), round(20 * s)
    middle = (left + right) // 2
    pixels = []
    for y in range(size):
        for x in range(size):
            p = transparent
            if left <= x <= right and top <= y <= bottom:
                if x in (left, right) or y in (top, bottom):
                    p = outline
                elif x < middle:
                    p = green
                else:
                    p = amber
            elif right < x <= right + max(1, round(3 * s)) and nub_top <= y <= nub_bottom:
                p = outline
            pixels.append(p)
    return pixels


def image_data(size):
    """BITMAPINFOHEADER, 32-bit pixels bottom-up, then the AND mask."""
    pixels = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        rows.append(b''.join(bytes(pixels[y * size + x]) for x in range(size)))
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = []
    for y in reversed(range(size)):
        row = bytearray(mask_row_bytes)
        for x in range(size):
            if pixels[y * size + x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask.append(bytes(row))
    return header + b''.join(rows) + b''.join(mask)


def write_ico(path, sizes):
    images = [image_data(size) for size in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_ico(folder + '/zbRefresh.ico', [32, 16])
    write_ico(folder + '/small.ico', [16])
