#!/usr/bin/env python3
"""Draws the flags of the start page's language box into resources/icons/flags/.

Each flag is an icon of one 18 x 12 image at 24 bits per pixel with an empty AND mask, named
after the language it stands for (the names of resources/strings/). The designs are the
countries' public flags, drawn on a 3:2 field whatever their own proportions: every pixel is the
average of 16 x 16 samples, so stripes that fall between pixels and small emblems come out as
the nearest colours a flag this small can show. Only the standard library is used, and the same
script always writes the same bytes; run it again after changing a design:

    python3 scripts/make_flag_icons.py
"""

import math
import pathlib
import struct

WIDTH, HEIGHT = 18, 12
SAMPLES = 16

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def stripes(colours, vertical=False, weights=None):
    """Equal (or weighted) bands, top to bottom or hoist to fly."""
    weights = weights or [1] * len(colours)
    total = sum(weights)
    edges, run = [], 0
    for weight in weights:
        run += weight
        edges.append(run / total)

    def draw(x, y):
        t = x / 1.5 if vertical else y
        for edge, colour in zip(edges, colours):
            if t < edge:
                return colour
        return colours[-1]
    return draw


def star_polygon(cx, cy, outer, angle, inner_ratio=0.381966):
    """A regular five-pointed star; angle is the direction of one point, in radians, y down."""
    points = []
    for i in range(10):
        radius = outer if i % 2 == 0 else outer * inner_ratio
        a = angle + i * math.pi / 5
        points.append((cx + radius * math.cos(a), cy + radius * math.sin(a)))
    return points


def inside(polygon, x, y):
    result = False
    j = len(polygon) - 1
    for i in range(len(polygon)):
        xi, yi = polygon[i]
        xj, yj = polygon[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def triangle(cx, cy, radius, angle):
    return [(cx + radius * math.cos(angle + k * 2 * math.pi / 3),
             cy + radius * math.sin(angle + k * 2 * math.pi / 3)) for k in range(3)]


# Each design takes (x, y) in units of the flag's height (x from 0 to 1.5, y from 0 to 1, y down)
# unless it says otherwise, and returns an (r, g, b) colour.

def france():
    return stripes([rgb(0x0055A4), WHITE, rgb(0xEF4135)], vertical=True)


def united_kingdom():
    blue, red = rgb(0x012169), rgb(0xC8102E)
    root5 = math.sqrt(5)

    def draw(x, y):
        # The 60 x 30 construction, centred.
        u = x / 1.5 * 60 - 30
        v = y * 30 - 15
        if abs(u) < 3 or abs(v) < 3:
            return red
        if abs(u) < 5 or abs(v) < 5:
            return WHITE
        d1 = (u - 2 * v) / root5   # the diagonal from the hoist's top
        d2 = (u + 2 * v) / root5   # the diagonal from the hoist's bottom
        # St Patrick's saltire is counterchanged: each red arm lies off its white one, turning
        # the same way round the centre.
        if (u < 0) == (v < 0):
            if -2 < (d1 if u < 0 else -d1) < 0:
                return red
        else:
            if -2 < (d2 if u > 0 else -d2) < 0:
                return red
        if abs(d1) < 3 or abs(d2) < 3:
            return WHITE
        return blue
    return draw


def germany():
    return stripes([BLACK, rgb(0xDD0000), rgb(0xFFCE00)])


def italy():
    return stripes([rgb(0x009246), WHITE, rgb(0xCE2B37)], vertical=True)


def spain():
    # The civil flag: the coat of arms does not fit twelve pixels.
    return stripes([rgb(0xAA151B), rgb(0xF1BF00), rgb(0xAA151B)], weights=[1, 2, 1])


def portugal():
    green, red, yellow = rgb(0x006600), rgb(0xFF0000), rgb(0xFFE000)
    cx, cy = 1.5 * 2 / 5, 0.5

    def draw(x, y):
        dx, dy = x - cx, y - cy
        # The shield on the armillary sphere: white with its red border.
        if abs(dx) < 0.1 and -0.12 < dy < 0.1 and (dy < 0 or dx * dx + dy * dy < 0.0125):
            if abs(dx) < 0.065 and -0.085 < dy < 0.065:
                return WHITE
            return red
        if dx * dx + dy * dy < 0.25 * 0.25:
            return yellow
        return green if x < cx else red
    return draw


def netherlands():
    return stripes([rgb(0xAE1C28), WHITE, rgb(0x21468B)])


def poland():
    return stripes([WHITE, rgb(0xDC143C)])


def czechia():
    blue, red = rgb(0x11457E), rgb(0xD7141A)

    def draw(x, y):
        # The wedge reaches half the flag's length.
        if x < 0.75 * (1 - abs(2 * y - 1)):
            return blue
        return WHITE if y < 0.5 else red
    return draw


def hungary():
    return stripes([rgb(0xCE2939), WHITE, rgb(0x477050)])


def romania():
    return stripes([rgb(0x002B7F), rgb(0xFCD116), rgb(0xCE1126)], vertical=True)


def serbia():
    # The national flag, without the state arms.
    return stripes([rgb(0xC6363C), rgb(0x0C4076), WHITE])


def greece():
    blue = rgb(0x0D5EAF)

    def draw(x, y):
        # Nine stripes of 2 units on a flag 18 units high and 27 long; a canton of 10 x 10.
        u, v = x / 1.5 * 27, y * 18
        if u < 10 and v < 10:
            return WHITE if (4 <= u < 6 or 4 <= v < 6) else blue
        return blue if int(v // 2) % 2 == 0 else WHITE
    return draw


def turkey():
    red = rgb(0xE30A17)
    inner_hoist_side = 0.5625 - 0.2
    star = star_polygon(inner_hoist_side + 1 / 3 + 0.125, 0.5, 0.125, math.pi)

    def draw(x, y):
        # The crescent: a circle of diameter 1/2 at 1/2 from the hoist, less one of 0.4 moved
        # 1/16 towards the fly; the star's circle (diameter 1/4) begins 1/3 from the inner
        # circle's hoist side.
        outer = (x - 0.5) ** 2 + (y - 0.5) ** 2 < 0.25 ** 2
        inner = (x - 0.5625) ** 2 + (y - 0.5) ** 2 < 0.2 ** 2
        if (outer and not inner) or inside(star, x, y):
            return WHITE
        return red
    return draw


def israel():
    blue = rgb(0x0038B8)
    # Stripes 25 units wide at 15 from the edges, on a flag 160 high; a star of two triangles
    # 55 units from point to point, drawn bolder than its 5.5 units so that twelve pixels keep it.
    outer = 27.5 / 160
    width = 0.06
    up = triangle(0.75, 0.5, outer, -math.pi / 2)
    down = triangle(0.75, 0.5, outer, math.pi / 2)
    inner = outer - 2 * width   # an equilateral triangle's inradius is half its circumradius
    up_inner = triangle(0.75, 0.5, inner, -math.pi / 2)
    down_inner = triangle(0.75, 0.5, inner, math.pi / 2)

    def draw(x, y):
        v = y * 160
        if 15 <= v < 40 or 120 <= v < 145:
            return blue
        if (inside(up, x, y) and not inside(up_inner, x, y)) or \
           (inside(down, x, y) and not inside(down_inner, x, y)):
            return blue
        return WHITE
    return draw


def china():
    red, yellow = rgb(0xEE1C25), rgb(0xFFFF00)
    # On a grid of 30 x 20: the large star at (5, 5), radius 3; the small ones, radius 1, each
    # with a point towards the large star's centre.
    stars = [star_polygon(5, 5, 3, -math.pi / 2)]
    for cx, cy in ((10, 2), (12, 4), (12, 7), (10, 9)):
        stars.append(star_polygon(cx, cy, 1, math.atan2(5 - cy, 5 - cx)))

    def draw(x, y):
        u, v = x / 1.5 * 30, y * 20
        return yellow if any(inside(s, u, v) for s in stars) else red
    return draw


def vietnam():
    red, yellow = rgb(0xDA251D), rgb(0xFFFF00)
    star = star_polygon(0.75, 0.5, 0.3, -math.pi / 2)
    return lambda x, y: yellow if inside(star, x, y) else red


def saudi_arabia():
    green = rgb(0x006C35)
    # The shahada is drawn as what twelve pixels can keep of it: upright letters on a line of
    # script above the sword, whose hilt is at the fly.
    letters = [0.36, 0.48, 0.62, 0.78, 0.9, 1.05, 1.14]

    def draw(x, y):
        if 0.3 <= x <= 1.2 and 0.4 <= y <= 0.47:
            return WHITE
        if any(abs(x - at) < 0.025 for at in letters) and 0.2 <= y <= 0.47:
            return WHITE
        if 0.3 <= x <= 1.2 and 0.66 <= y <= 0.71:
            return WHITE
        if 1.06 <= x <= 1.1 and 0.6 <= y <= 0.77:
            return WHITE
        return green
    return draw


FLAGS = {
    'fr': france, 'en': united_kingdom, 'de': germany, 'it': italy, 'es': spain,
    'pt': portugal, 'nl': netherlands, 'pl': poland, 'cs': czechia, 'hu': hungary,
    'ro': romania, 'sr': serbia, 'el': greece, 'tr': turkey, 'he': israel, 'zh': china,
    'vi': vietnam, 'ar': saudi_arabia,
}


def render(design):
    """Rows top to bottom of (r, g, b), each pixel the mean of its samples."""
    rows = []
    for py in range(HEIGHT):
        row = []
        for px in range(WIDTH):
            total = [0, 0, 0]
            for sy in range(SAMPLES):
                y = (py + (sy + 0.5) / SAMPLES) / HEIGHT
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / HEIGHT
                    colour = design(x, y)
                    for k in range(3):
                        total[k] += colour[k]
            count = SAMPLES * SAMPLES
            row.append(tuple((t * 2 + count) // (2 * count) for t in total))
        rows.append(row)
    return rows


def icon_bytes(rows):
    """An ICO file of one image: a DIB of twice the height (colours, then the AND mask)."""
    colour_stride = (WIDTH * 3 + 3) // 4 * 4
    mask_stride = ((WIDTH + 7) // 8 + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(colour_stride - len(line))
    mask = bytes(mask_stride * HEIGHT)  # all opaque
    header = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT * 2, 1, 24, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', WIDTH, HEIGHT, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    folder = pathlib.Path(__file__).resolve().parent.parent / 'resources' / 'icons' / 'flags'
    folder.mkdir(parents=True, exist_ok=True)
    for name, design in FLAGS.items():
        (folder / f'{name}.ico').write_bytes(icon_bytes(render(design())))


if __name__ == '__main__':
    main()
