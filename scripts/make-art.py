#!/usr/bin/env python3
"""Draws the installer's icon and banner from code, so the art can be rebuilt byte for byte.

    scripts/make-art.py [output-folder]      (default: src/dialog/res next to this script's repository)

Writes:
  tesserine.ico  one 32 x 32 image, 24-bit colour with its 1-bit AND mask: a faceted gold compass star
                 on a rounded night-blue tile.
  banner.bmp     164 x 314, 24-bit, bottom-up: a night sky from deep blue to violet with stars, the same
                 faceted star as an emblem, a few wave lines and a field of tessellated blocks below.

Only the standard library is used and nothing random is seeded from the clock: the output is the same on
every run.
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------------------------------------------------
# Small colour and geometry helpers. Colours are (r, g, b) tuples of floats in 0..1.


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def scale(c, f):
    return (c[0] * f, c[1] * f, c[2] * f)


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def clamp01(x):
    return 0.0 if x < 0.0 else 1.0 if x > 1.0 else x


def smoothstep(e0, e1, x):
    t = clamp01((x - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def to_byte(x):
    return int(round(clamp01(x) * 255.0))


def in_triangle(px, py, a, b, c):
    def side(p1, p2):
        return (px - p2[0]) * (p1[1] - p2[1]) - (p1[0] - p2[0]) * (py - p2[1])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    has_neg = d1 < 0 or d2 < 0 or d3 < 0
    has_pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (has_neg and has_pos)


class XorShift32:
    """A tiny generator with a fixed seed, so the star field never changes."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x / 4294967296.0


# ---------------------------------------------------------------------------------------------------------
# The mark: an eight-pointed compass star cut into facets, lit from the upper left.

GOLD_LIGHT = hex_colour("ffe49a")
GOLD_MID = hex_colour("e9b54a")
GOLD_DARK = hex_colour("a86d1c")
LIGHT_ANGLE = math.radians(-135.0)  # towards the upper left, y pointing down


class CompassStar:
    def __init__(self, cx, cy, radius, inner_ratio=0.34, short_ratio=0.68):
        self.cx, self.cy = cx, cy
        self.tips = []
        self.inner = []
        for k in range(8):
            angle = math.radians(-90.0 + 45.0 * k)
            r = radius if k % 2 == 0 else radius * short_ratio
            self.tips.append((angle, (cx + r * math.cos(angle), cy + r * math.sin(angle))))
            a2 = angle + math.radians(22.5)
            ri = radius * inner_ratio
            self.inner.append((cx + ri * math.cos(a2), cy + ri * math.sin(a2)))

    def sample(self, x, y):
        """Colour of the star at (x, y), or None outside it."""
        centre = (self.cx, self.cy)
        for k in range(8):
            angle, tip = self.tips[k]
            for side, inner in ((0, self.inner[k]), (1, self.inner[k - 1])):
                if in_triangle(x, y, centre, tip, inner):
                    # Each point has a lit and a shaded half; points facing the light are brighter.
                    facing = math.cos(angle - LIGHT_ANGLE)
                    base = GOLD_LIGHT if side == (0 if facing >= 0 else 1) else GOLD_MID
                    if side == 1 and facing < -0.5:
                        base = mix(GOLD_MID, GOLD_DARK, 0.6)
                    shade = 0.86 + 0.14 * facing
                    # A little darker towards the tip, to give the facets depth.
                    dist = math.hypot(x - self.cx, y - self.cy)
                    tip_dist = math.hypot(tip[0] - self.cx, tip[1] - self.cy)
                    depth = 1.0 - 0.18 * (dist / tip_dist)
                    return scale(base, shade * depth)
        return None


def supersample(width, height, shade, samples=4):
    """Runs shade(x, y) -> (colour, alpha) on a grid of samples per pixel; returns rows of (colour, alpha)."""
    rows = []
    step = 1.0 / samples
    offsets = [(i + 0.5) * step for i in range(samples)]
    count = samples * samples
    for py in range(height):
        row = []
        for px in range(width):
            r = g = b = a = 0.0
            for oy in offsets:
                for ox in offsets:
                    colour, alpha = shade(px + ox, py + oy)
                    if alpha > 0.0:
                        r += colour[0] * alpha
                        g += colour[1] * alpha
                        b += colour[2] * alpha
                        a += alpha
            if a > 0.0:
                row.append(((r / a, g / a, b / a), a / count))
            else:
                row.append(((0.0, 0.0, 0.0), 0.0))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------------------------------------
# Icon: 32 x 32, 24-bit XOR image plus 1-bit AND mask (1 = transparent).

ICON_SIZE = 32


def rounded_square_alpha(x, y, left, top, size, radius):
    """Coverage of a rounded square at one sample point (0 or 1)."""
    cx = min(max(x, left + radius), left + size - radius)
    cy = min(max(y, top + radius), top + size - radius)
    return 1.0 if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius else 0.0


def draw_icon():
    star = CompassStar(16.0, 16.0, 14.2, inner_ratio=0.33, short_ratio=0.64)
    tile_top = hex_colour("2b4fa8")
    tile_bottom = hex_colour("0c1a4a")
    rim = hex_colour("6d8fe0")

    def shade(x, y):
        if rounded_square_alpha(x, y, 1.0, 1.0, 30.0, 6.0) == 0.0:
            return (0.0, 0.0, 0.0), 0.0
        t = clamp01((x + y - 2.0) / 60.0)
        colour = mix(tile_top, tile_bottom, t)
        # A thin lighter rim just inside the edge.
        if rounded_square_alpha(x, y, 2.0, 2.0, 28.0, 5.0) == 0.0:
            colour = mix(colour, rim, 0.55)
        # Faint diamond tessellation in the tile.
        u = (x + y) / 8.0
        v = (x - y) / 8.0
        if min(u - math.floor(u), v - math.floor(v)) < 0.09:
            colour = mix(colour, rim, 0.18)
        # A soft glow behind the star.
        d = math.hypot(x - 16.0, y - 16.0)
        colour = mix(colour, hex_colour("7fa6ff"), 0.35 * (1.0 - smoothstep(0.0, 11.0, d)))
        star_colour = star.sample(x, y)
        if star_colour is not None:
            colour = star_colour
        # A small blue jewel at the centre.
        if d < 2.3:
            colour = mix(hex_colour("cfe0ff"), hex_colour("3a66d0"), d / 2.3)
        return colour, 1.0

    pixels = supersample(ICON_SIZE, ICON_SIZE, shade, samples=4)

    xor_rows = []
    and_rows = []
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        mask_bits = 0
        for i, (colour, alpha) in enumerate(row):
            if alpha >= 0.5:
                line += bytes((to_byte(colour[2]), to_byte(colour[1]), to_byte(colour[0])))
            else:
                line += b"\x00\x00\x00"  # black under a set mask bit leaves the screen unchanged
                mask_bits |= 1 << (31 - i)
        xor_rows.append(bytes(line))  # 96 bytes, already a multiple of 4
        and_rows.append(struct.pack(">I", mask_bits))  # 32 bits, already a multiple of 4 bytes
    xor_data = b"".join(xor_rows)
    and_data = b"".join(and_rows)

    # The header's height counts the XOR image and the AND mask together.
    header = struct.pack("<IiiHHIIiiII", 40, ICON_SIZE, ICON_SIZE * 2, 1, 24, 0, len(xor_data) + len(and_data),
                         0, 0, 0, 0)
    image = header + xor_data + and_data
    icon_dir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", ICON_SIZE, ICON_SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return icon_dir + entry + image


# ---------------------------------------------------------------------------------------------------------
# Banner: 164 x 314, 24-bit bottom-up BMP.

BANNER_W = 164
BANNER_H = 314
SKY_TOP = hex_colour("060a24")
SKY_MIDDLE = hex_colour("16195a")
SKY_BOTTOM = hex_colour("3b1f6e")
EMBLEM_X = 82.0
EMBLEM_Y = 104.0
TILES_FROM = 196.0  # where the block field starts to show


def sky_colour(x, y):
    t = y / (BANNER_H - 1)
    base = mix(SKY_TOP, SKY_MIDDLE, t / 0.55) if t < 0.55 else mix(SKY_MIDDLE, SKY_BOTTOM, (t - 0.55) / 0.45)
    # A soft violet nebula drifting across the upper half, and a cool haze around the emblem.
    neb = math.exp(-(((x - 118.0) / 70.0) ** 2 + ((y - 60.0) / 38.0) ** 2))
    neb += 0.6 * math.exp(-(((x - 30.0) / 50.0) ** 2 + ((y - 170.0) / 30.0) ** 2))
    base = mix(base, hex_colour("5a3a9a"), 0.28 * min(neb, 1.0))
    glow = math.exp(-(((x - EMBLEM_X) ** 2 + (y - EMBLEM_Y) ** 2) / (2.0 * 34.0 ** 2)))
    base = mix(base, hex_colour("4a6ad8"), 0.35 * glow)
    return base


SQRT3 = math.sqrt(3.0)


def block_colour(x, y, size):
    """Tumbling-blocks tessellation: every hexagon split into three lit rhombi, with gold seams."""
    q = (SQRT3 / 3.0 * x - y / 3.0) / size
    r = (2.0 / 3.0 * y) / size
    # Round to the nearest hexagon in cube coordinates.
    cx_, cz_ = q, r
    cy_ = -cx_ - cz_
    rx, ry, rz = round(cx_), round(cy_), round(cz_)
    dx, dy, dz = abs(rx - cx_), abs(ry - cy_), abs(rz - cz_)
    if dx > dy and dx > dz:
        rx = -ry - rz
    elif dy > dz:
        ry = -rx - rz
    else:
        rz = -rx - ry
    hx = size * (SQRT3 * rx + SQRT3 / 2.0 * rz)
    hy = size * 1.5 * rz
    px, py = x - hx, y - hy

    angle = math.degrees(math.atan2(-py, px)) % 360.0  # counter-clockwise, y up
    if 30.0 <= angle < 150.0:
        face = hex_colour("3f4aa8")  # top face, lit
    elif 150.0 <= angle < 270.0:
        face = hex_colour("26256e")  # left face
    else:
        face = hex_colour("161744")  # right face, in shadow

    # Distance to the hexagon's border (pointy-top: normals at 0, 60 and 120 degrees).
    apothem = size * SQRT3 / 2.0
    edge = apothem - max(abs(px), abs(px * 0.5 + py * SQRT3 / 2.0), abs(px * 0.5 - py * SQRT3 / 2.0))
    # Distance to the three spokes from the centre to alternate corners (30, 150, 270 degrees, y up).
    spoke_dist = 1e9
    for a in (30.0, 150.0, 270.0):
        ax, ay = math.cos(math.radians(a)), -math.sin(math.radians(a))
        t = max(0.0, min(size, px * ax + py * ay))
        spoke_dist = min(spoke_dist, math.hypot(px - ax * t, py - ay * t))
    return face, min(edge, spoke_dist)


def draw_banner():
    width, height = BANNER_W, BANNER_H
    canvas = [[sky_colour(x + 0.5, y + 0.5) for x in range(width)] for y in range(height)]

    # Tessellated blocks rising out of the bottom, fading into the sky.
    seam_gold = hex_colour("c9a24e")
    block_size = 11.0

    def tiles(x, y):
        face, seam = block_colour(x - 3.0, y - 2.0, block_size)
        fade = smoothstep(TILES_FROM, height - 10.0, y)
        colour = face
        if seam < 0.55:
            colour = mix(face, seam_gold, 0.65)
        return colour, fade

    tile_layer = supersample(width, height - int(TILES_FROM), lambda x, y: tiles(x, y + TILES_FROM), samples=3)
    for j, row in enumerate(tile_layer):
        y = j + int(TILES_FROM)
        for x, (colour, alpha) in enumerate(row):
            if alpha > 0.0:
                canvas[y][x] = mix(canvas[y][x], colour, 0.92 * alpha)

    # Stars: many faint points, some with a halo, a few with a four-point sparkle.
    rng = XorShift32(0x5EED2024)
    stars = []
    for _ in range(190):
        sx = rng.next() * width
        sy = rng.next() * height
        brightness = rng.next() ** 2.2
        warm = rng.next()
        stars.append((sx, sy, brightness, warm))
    for sx, sy, brightness, warm in stars:
        sky = 1.0 - smoothstep(TILES_FROM - 10.0, TILES_FROM + 50.0, sy)
        if sky <= 0.0:
            continue
        tint = mix(hex_colour("cfdcff"), hex_colour("ffe7b8"), 1.0 if warm > 0.85 else 0.0)
        radius = 0.6 + 1.5 * brightness
        strength = (0.35 + 0.65 * brightness) * sky
        x0, x1 = int(sx - radius - 4), int(sx + radius + 5)
        y0, y1 = int(sy - radius - 4), int(sy + radius + 5)
        for y in range(max(0, y0), min(height, y1)):
            for x in range(max(0, x0), min(width, x1)):
                d = math.hypot(x + 0.5 - sx, y + 0.5 - sy)
                a = math.exp(-(d / (0.45 * radius)) ** 2) * strength
                if brightness > 0.72:
                    # Sparkle: thin horizontal and vertical rays.
                    ray = max(math.exp(-abs(y + 0.5 - sy) * 2.2) * math.exp(-abs(x + 0.5 - sx) / 3.0),
                              math.exp(-abs(x + 0.5 - sx) * 2.2) * math.exp(-abs(y + 0.5 - sy) / 3.0))
                    a = max(a, 0.55 * ray * strength)
                if a > 0.003:
                    canvas[y][x] = mix(canvas[y][x], tint, min(a, 1.0))

    # Waves under the emblem: three soft lines.
    for i, (base_y, amp, phase, alpha) in enumerate(((168.0, 3.2, 0.0, 0.55), (176.0, 2.6, 1.7, 0.38),
                                                     (184.0, 2.0, 3.1, 0.24))):
        colour = hex_colour("8fb4ff") if i else hex_colour("d8c27a")
        for x in range(width):
            fx = x + 0.5
            fade = math.sin(math.pi * fx / width) ** 1.5
            wy = base_y + amp * math.sin(fx / 13.0 + phase) + 1.2 * math.sin(fx / 5.3 + 2 * phase)
            for y in range(int(wy) - 2, int(wy) + 3):
                d = abs(y + 0.5 - wy)
                a = alpha * fade * max(0.0, 1.0 - d / 1.1)
                if a > 0.0:
                    canvas[y][x] = mix(canvas[y][x], colour, a)

    # The emblem: a thin ring of small tiles around the faceted star.
    star = CompassStar(EMBLEM_X, EMBLEM_Y, 46.0, inner_ratio=0.30, short_ratio=0.62)
    ring_r = 38.0
    ring_gold = hex_colour("e6c06a")

    def emblem(x, y):
        colour = star.sample(x, y)
        if colour is not None:
            return colour, 1.0
        d = math.hypot(x - EMBLEM_X, y - EMBLEM_Y)
        if abs(d - ring_r) < 0.6:
            return ring_gold, 0.85
        if abs(d - (ring_r + 4.5)) < 2.2:
            # Twenty-four small tiles with gaps, alternating shades.
            a = (math.degrees(math.atan2(y - EMBLEM_Y, x - EMBLEM_X)) + 360.0 + 7.5) % 360.0
            cell = int(a // 15.0)
            within = (a % 15.0) / 15.0
            if 0.12 < within < 0.88:
                return (ring_gold if cell % 2 == 0 else hex_colour("7f8fe6")), 0.75
        return (0.0, 0.0, 0.0), 0.0

    left, top = int(EMBLEM_X - 50), int(EMBLEM_Y - 50)
    emblem_layer = supersample(100, 100, lambda x, y: emblem(x + left, y + top), samples=4)
    for j, row in enumerate(emblem_layer):
        for i, (colour, alpha) in enumerate(row):
            if alpha > 0.0:
                canvas[top + j][left + i] = mix(canvas[top + j][left + i], colour, alpha)

    # A jewel in the centre of the star.
    for y in range(int(EMBLEM_Y) - 6, int(EMBLEM_Y) + 7):
        for x in range(int(EMBLEM_X) - 6, int(EMBLEM_X) + 7):
            d = math.hypot(x + 0.5 - EMBLEM_X, y + 0.5 - EMBLEM_Y)
            a = 1.0 - smoothstep(3.6, 4.6, d)
            if a > 0.0:
                c = mix(hex_colour("eaf1ff"), hex_colour("3d63d6"), clamp01(d / 4.2))
                canvas[y][x] = mix(canvas[y][x], c, a)

    # A fine gold frame line down the right edge, where the banner meets the dialog.
    for y in range(height):
        canvas[y][width - 1] = mix(canvas[y][width - 1], hex_colour("b8944a"), 0.7)
        canvas[y][width - 2] = mix(canvas[y][width - 2], hex_colour("b8944a"), 0.2)

    row_size = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up
        line = bytearray()
        for c in canvas[y]:
            line += bytes((to_byte(c[2]), to_byte(c[1]), to_byte(c[0])))
        line += b"\x00" * (row_size - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return file_header + info + bytes(pixels)


def main():
    if len(sys.argv) > 1:
        out = sys.argv[1]
    else:
        out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "dialog", "res")
    os.makedirs(out, exist_ok=True)
    for name, data in (("tesserine.ico", draw_icon()), ("banner.bmp", draw_banner())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print("wrote %s (%d bytes)" % (os.path.normpath(os.path.join(out, name)), len(data)))


if __name__ == "__main__":
    main()
