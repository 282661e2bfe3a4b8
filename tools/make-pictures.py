#!/usr/bin/env python3
"""Draws the main screen's pictures: one battery lying on its side in every
picture, its fill telling the state, in one palette (slate outline, green
charged or good, amber discharging or deteriorated, red warning, blue
cooling, grey for a step not reached yet).

    tools/make-pictures.py <output folder>

writes the bitmaps (24-bit, on the dialog face colour) and icons (32-bit
with alpha, 16 to 48 pixels) that main/zbMain.rc names. The step names of
the read-me picture are set in IPA P Gothic (fonts-ipafont-gothic) through
ImageMagick's convert. The pictures are
committed; run this again only to change the drawing. Bitmaps are drawn for
96 DPI and scaled by the program (smoothly) at higher settings; the icons
carry a drawing per size, so Windows picks a sharp one at 144 DPI too.
"""
import math
import struct
import subprocess
import sys

FACE = (240, 240, 240)
WHITE = (255, 255, 255)
SLATE = (55, 71, 79)
GREEN = (67, 160, 71)
AMBER = (245, 160, 30)
RED = (211, 47, 47)
BLUE = (30, 136, 229)
GREY = (170, 170, 170)
LIGHT_GREY = (205, 205, 205)
SUPERSAMPLE = 4


class Canvas:
    """RGBA pixels with shapes blended in at SUPERSAMPLE x SUPERSAMPLE
    samples per pixel; coordinates are pixels (floats)."""

    def __init__(self, width, height, background=None):
        self.width, self.height = width, height
        bg = (background + (255,)) if background else (0, 0, 0, 0)
        self.pixels = [list(bg) for _ in range(width * height)]

    def shape(self, box, inside, colour):
        x0, y0, x1, y1 = box
        n = SUPERSAMPLE
        for y in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)))):
                hits = sum(1 for i in range(n) for j in range(n)
                           if inside(x + (i + 0.5) / n, y + (j + 0.5) / n))
                if hits:
                    self.blend(x, y, colour, hits / (n * n))

    def blend(self, x, y, colour, cover):
        p = self.pixels[y * self.width + x]
        a = p[3] / 255.0
        out_a = cover + a * (1 - cover)
        for k in range(3):
            p[k] = round((colour[k] * cover + p[k] * a * (1 - cover)) / out_a) if out_a else 0
        p[3] = round(out_a * 255)

    def rect(self, x0, y0, x1, y1, colour, radius=0.0):
        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 + 1e-9
        self.shape((x0, y0, x1, y1), inside, colour)

    def circle(self, cx, cy, r, colour):
        self.shape((cx - r, cy - r, cx + r, cy + r),
                   lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def polygon(self, points, colour):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(x, y):
            odd = False
            j = len(points) - 1
            for i in range(len(points)):
                (xi, yi), (xj, yj) = points[i], points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    odd = not odd
                j = i
            return odd
        self.shape((min(xs), min(ys), max(xs), max(ys)), inside, colour)

    def line(self, x0, y0, x1, y1, width, colour):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny),
                      (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], colour)
        self.circle(x0, y0, width / 2, colour)
        self.circle(x1, y1, width / 2, colour)


# ---- The motif -------------------------------------------------------------

def battery(c, x, y, w, h, level, fill, outline=SLATE):
    """A battery lying on its side at (x, y), w x h with its nub, filled to
    level (0..1) from the left."""
    t = max(1.0, h / 10.0)
    body_w = w - max(2.0, w / 12.0)
    c.rect(x, y, x + body_w, y + h, outline, radius=t * 1.2)
    c.rect(x + t, y + t, x + body_w - t, y + h - t, WHITE, radius=t * 0.6)
    c.rect(x + body_w, y + h * 0.3, x + w, y + h * 0.7, outline, radius=t * 0.5)
    gap = t * 0.9
    inner = (x + t + gap, y + t + gap, x + body_w - t - gap, y + h - t - gap)
    if level > 0:
        c.rect(inner[0], inner[1], inner[0] + (inner[2] - inner[0]) * level, inner[3], fill,
               radius=t * 0.4)
    return inner


def check_mark(c, cx, cy, s, colour):
    c.line(cx - s * 0.45, cy, cx - s * 0.1, cy + s * 0.35, s * 0.22, colour)
    c.line(cx - s * 0.1, cy + s * 0.35, cx + s * 0.5, cy - s * 0.35, s * 0.22, colour)


def exclamation(c, cx, cy, s, colour):
    c.line(cx, cy - s * 0.45, cx, cy + s * 0.1, s * 0.22, colour)
    c.circle(cx, cy + s * 0.4, s * 0.13, colour)


def bolt(c, cx, cy, s, colour):
    c.polygon([(cx + 0.1 * s, cy - 0.5 * s), (cx - 0.3 * s, cy + 0.08 * s),
               (cx - 0.02 * s, cy + 0.08 * s), (cx - 0.12 * s, cy + 0.5 * s),
               (cx + 0.3 * s, cy - 0.1 * s), (cx + 0.02 * s, cy - 0.1 * s)], colour)


def arrow_down(c, cx, cy, s, colour):
    c.rect(cx - s * 0.12, cy - s * 0.5, cx + s * 0.12, cy + s * 0.05, colour)
    c.polygon([(cx - s * 0.35, cy), (cx + s * 0.35, cy), (cx, cy + s * 0.5)], colour)


def arrow_right(c, x0, x1, cy, s, colour):
    c.rect(x0, cy - s * 0.12, x1 - s * 0.4, cy + s * 0.12, colour)
    c.polygon([(x1 - s * 0.45, cy - s * 0.35), (x1, cy), (x1 - s * 0.45, cy + s * 0.35)], colour)


def snowflake(c, cx, cy, s, colour):
    for k in range(3):
        a = math.pi / 3 * k
        dx, dy = math.cos(a) * s * 0.5, math.sin(a) * s * 0.5
        c.line(cx - dx, cy - dy, cx + dx, cy + dy, s * 0.13, colour)


def question(c, cx, cy, s, colour):
    r = s * 0.28
    steps = 14
    pts = [(cx + r * math.cos(math.pi * (1.0 - 1.5 * i / steps)),
            cy - s * 0.18 - r * math.sin(math.pi * (1.0 - 1.5 * i / steps))) for i in range(steps + 1)]
    for a, b in zip(pts, pts[1:]):
        c.line(a[0], a[1], b[0], b[1], s * 0.16, colour)
    c.line(pts[-1][0], pts[-1][1], cx, cy + s * 0.15, s * 0.16, colour)
    c.circle(cx, cy + s * 0.42, s * 0.1, colour)


FONT = '/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf'


def text(c, cx, y, label, colour, size=12):
    """Draws label centred on cx with its top at y (anti-aliased)."""
    pgm = subprocess.run(['/usr/bin/convert', '-background', 'black', '-fill', 'white', '-font',
                          FONT, '-pointsize', str(size), '-depth', '8', 'label:' + label, 'pgm:-'],
                         check=True, capture_output=True).stdout
    fields = pgm.split(maxsplit=4)
    w, h = int(fields[1]), int(fields[2])
    data = fields[4]
    x0 = int(round(cx - w / 2))
    for j in range(h):
        for i in range(w):
            cover = data[j * w + i] / 255.0
            if cover > 0 and 0 <= x0 + i < c.width and 0 <= y + j < c.height:
                c.blend(x0 + i, y + j, colour, cover)


# Digits 1 to 5 of the read-me flow, 3 x 5 cells.
DIGITS = {
    1: ['.#.', '##.', '.#.', '.#.', '###'],
    2: ['##.', '..#', '.#.', '#..', '###'],
    3: ['##.', '..#', '.#.', '..#', '##.'],
    4: ['#.#', '#.#', '###', '..#', '..#'],
    5: ['###', '#..', '##.', '..#', '##.'],
}


def badge(c, cx, cy, r, digit, colour):
    c.circle(cx, cy, r, colour)
    cell = r * 0.3
    ox, oy = cx - 1.5 * cell, cy - 2.5 * cell
    for row, bits in enumerate(DIGITS[digit]):
        for col, bit in enumerate(bits):
            if bit == '#':
                c.rect(ox + col * cell, oy + row * cell, ox + (col + 1) * cell + 0.01,
                       oy + (row + 1) * cell + 0.01, WHITE)


# ---- The pictures ----------------------------------------------------------

def health_picture(kind):
    c = Canvas(56, 32, FACE)
    level, fill = {'good': (1.0, GREEN), 'worn': (0.55, AMBER), 'warn': (0.2, RED)}[kind]
    battery(c, 2, 5, 44, 22, level, fill)
    if kind == 'good':
        c.circle(45, 22, 9, WHITE)
        c.circle(45, 22, 7.5, GREEN)
        check_mark(c, 45, 22, 9, WHITE)
    elif kind == 'warn':
        c.circle(45, 22, 9, WHITE)
        c.circle(45, 22, 7.5, RED)
        exclamation(c, 45, 22, 10, WHITE)
    return c


def warning_picture():
    c = Canvas(32, 32, FACE)
    c.polygon([(16, 2), (31, 29), (1, 29)], SLATE)
    c.polygon([(16, 5.5), (28.3, 27.5), (3.7, 27.5)], AMBER)
    exclamation(c, 16, 18.5, 15, SLATE)
    return c


def step_picture(step, frame):
    """Refresh window step: step 0 charge, 1 discharge, 2 recharge; frame
    0..2 the animation (fuller with each frame), None the step not active."""
    c = Canvas(64, 40, FACE)
    if frame is None:
        battery(c, 4, 10, 50, 24, 0.0, GREY, outline=GREY)
        return c
    level = (0.33, 0.66, 1.0)[frame]
    fill = (GREEN, AMBER, BLUE)[step]
    battery(c, 4, 10, 50, 24, level, fill)
    if step == 1:
        c.circle(52, 10, 8, FACE)
        arrow_down(c, 52, 10, 13, AMBER)
    else:
        c.circle(52, 10, 8, FACE)
        bolt(c, 52, 10, 15, fill)
    return c


def flow_picture():
    """The read-me flow: charge, discharge, cool down, recharge, diagnose."""
    c = Canvas(440, 108, FACE)
    cells = [(GREEN, 1.0, 'bolt'), (AMBER, 0.15, 'down'), (BLUE, 0.15, 'snow'),
             (GREEN, 1.0, 'bolt'), (GREEN, 1.0, 'check')]
    names = ['満充電', '放電', '冷却', '再充電', '診断']
    for i, (colour, level, mark) in enumerate(cells):
        x = 6 + i * 88
        badge(c, x + 10, 12, 9, i + 1, SLATE)
        battery(c, x, 34, 58, 30, level, colour)
        mx, my = x + 56, 32
        c.circle(mx, my, 11, FACE)
        if mark == 'bolt':
            bolt(c, mx, my, 20, colour)
        elif mark == 'down':
            arrow_down(c, mx, my, 17, colour)
        elif mark == 'snow':
            snowflake(c, mx, my, 19, colour)
        else:
            c.circle(mx, my, 9.5, colour)
            check_mark(c, mx, my, 11, WHITE)
        text(c, x + 28, 70, names[i], SLATE)
        if i < 4:
            arrow_right(c, x + 70, x + 84, 49, 12, GREY)
    # A bar under the steps: the whole refresh, ending in the diagnosis.
    c.rect(6, 96, 370, 102, LIGHT_GREY, radius=3)
    c.rect(358, 96, 420, 102, GREEN, radius=3)
    return c


def icon_drawing(kind):
    """A function drawing the icon of a kind at a size."""
    def draw(size):
        c = Canvas(size, size)
        s = size / 32.0
        if kind in ('app', 'question'):
            # Half charged, half discharged: the refresh cycle.
            x0, y0, x1, y1 = battery(c, 1 * s, 9 * s, 30 * s, 15 * s, 1.0, AMBER)
            c.rect(x0, y0, (x0 + x1) / 2, y1, GREEN, radius=0.6 * s)
            if kind == 'question':
                c.circle(22 * s, 22 * s, 9.5 * s, WHITE)
                c.circle(22 * s, 22 * s, 8.5 * s, BLUE)
                question(c, 22 * s, 21.5 * s, 14 * s, WHITE)
            else:
                c.circle(23 * s, 23 * s, 8.5 * s, WHITE)
                c.circle(23 * s, 23 * s, 7.5 * s, SLATE)
                check_mark(c, 23 * s, 23 * s, 9 * s, WHITE)
        else:
            colour, level = {'charge': (GREEN, 0.5), 'discharge': (AMBER, 0.5),
                             'recharge': (BLUE, 0.8)}[kind]
            battery(c, 1 * s, 9 * s, 30 * s, 15 * s, level, colour)
            c.circle(23 * s, 22 * s, 8.5 * s, WHITE)
            if kind == 'discharge':
                arrow_down(c, 23 * s, 22 * s, 13 * s, colour)
            else:
                bolt(c, 23 * s, 22 * s, 15 * s, colour)
        return c
    return draw


# ---- Files -----------------------------------------------------------------

def write_bmp(path, c):
    row_bytes = (c.width * 3 + 3) & ~3
    data = bytearray()
    for y in reversed(range(c.height)):
        row = bytearray()
        for x in range(c.width):
            r, g, b, a = c.pixels[y * c.width + x]
            # Anything left transparent shows the dialog face.
            k = a / 255.0
            row += bytes((round(b * k + FACE[2] * (1 - k)), round(g * k + FACE[1] * (1 - k)),
                          round(r * k + FACE[0] * (1 - k))))
        data += row + bytes(row_bytes - len(row))
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack('<IiiHHIIiiII', 40, c.width, c.height, 1, 24, 0, len(data), 3780, 3780,
                       0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def icon_image(c):
    size = c.width
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        rows.append(b''.join(bytes((p[2], p[1], p[0], p[3]))
                             for p in c.pixels[y * size:(y + 1) * size]))
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = []
    for y in reversed(range(size)):
        row = bytearray(mask_row_bytes)
        for x in range(size):
            if c.pixels[y * size + x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask.append(bytes(row))
    return header + b''.join(rows) + b''.join(mask)


def write_ico(path, draw, sizes):
    images = [icon_image(draw(size)) for size in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


ICON_SIZES = [48, 32, 24, 20, 16]


def main(folder):
    write_bmp(folder + '/health_good.bmp', health_picture('good'))
    write_bmp(folder + '/health_worn.bmp', health_picture('worn'))
    write_bmp(folder + '/health_bad.bmp', health_picture('warn'))
    write_bmp(folder + '/warning.bmp', warning_picture())
    write_bmp(folder + '/readme_flow.bmp', flow_picture())
    for step, name in enumerate(('charge', 'discharge', 'recharge')):
        for frame in range(3):
            write_bmp('%s/step_%s%d.bmp' % (folder, name, frame), step_picture(step, frame))
        write_bmp('%s/step_%s_idle.bmp' % (folder, name), step_picture(step, None))
    write_ico(folder + '/zbMain.ico', icon_drawing('app'), ICON_SIZES)
    write_ico(folder + '/small.ico', icon_drawing('app'), [16, 20, 24, 32])
    write_ico(folder + '/question.ico', icon_drawing('question'), ICON_SIZES)
    for kind in ('charge', 'discharge', 'recharge'):
        write_ico('%s/tray_%s.ico' % (folder, kind), icon_drawing(kind), [16, 20, 24, 32])


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else '.')
