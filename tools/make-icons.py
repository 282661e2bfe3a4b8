#!/usr/bin/env python3
"""Draws the suite's pictures: a battery lying on its side.

    tools/make-icons.py <output folder>

writes the refresh tool's zbRefresh.ico (32x32 and 16x16) and small.ico
(16x16): half green (charged), half amber (discharged), the picture of a
refresh cycle.

    tools/make-icons.py --main <output folder>

writes the main screen's zbMain.ico, small.ico and question.ico (blue, the
icon of its questions) and the three health pictures as 48x48 bitmaps:
health_good.bmp (green), health_worn.bmp (amber), health_bad.bmp (red).
The pictures are committed; run this again only to change the drawing.
"""
import struct
import sys


GREEN = (0x3C, 0xB4, 0x3C, 0xFF)
AMBER = (0x20, 0xA0, 0xF0, 0xFF)
RED = (0x30, 0x30, 0xD8, 0xFF)
BLUE = (0xD0, 0x80, 0x30, 0xFF)


def draw(size, green=GREEN, amber=AMBER):
    """Returns size*size BGRA pixels, top row first; the battery's left half
    in green, its right half in amber."""
    transparent = (0, 0, 0, 0)
    outline = (0x40, 0x40, 0x40, 0xFF)
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


def image_data(size, colours):
    """BITMAPINFOHEADER, 32-bit pixels bottom-up, then the AND mask."""
    pixels = draw(size, *colours)
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


def write_ico(path, sizes, colours=(GREEN, AMBER)):
    images = [image_data(size, colours) for size in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


def write_bmp(path, size, colour):
    """A 24-bit bitmap on a white ground."""
    pixels = draw(size, colour, colour)
    row_bytes = (size * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            b, g, r, a = pixels[y * size + x]
            row += bytes((b, g, r)) if a else b'\xff\xff\xff'
        rows.append(bytes(row) + bytes(row_bytes - len(row)))
    data = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(header + info + data)


if __name__ == '__main__':
    if len(sys.argv) > 1 and sys.argv[1] == '--main':
        folder = sys.argv[2] if len(sys.argv) > 2 else '.'
        write_ico(folder + '/zbMain.ico', [32, 16])
        write_ico(folder + '/small.ico', [16])
        write_ico(folder + '/question.ico', [32, 16], (BLUE, BLUE))
        write_bmp(folder + '/health_good.bmp', 48, GREEN)
        write_bmp(folder + '/health_worn.bmp', 48, AMBER)
        write_bmp(folder + '/health_bad.bmp', 48, RED)
    else:
        folder = sys.argv[1] if len(sys.argv) > 1 else '.'
        write_ico(folder + '/zbRefresh.ico', [32, 16])
        write_ico(folder + '/small.ico', [16])
