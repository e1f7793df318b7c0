#!/usr/bin/python3
"""Draws the game's icon as RGBA PNGs, one per size of the desktop's icon theme.

The icon is the game's own moment: on a rounded square of dark violet glass, a circle of hot
pink grows toward a cyan neon ring, both with a soft glow. Every pixel is computed from the
distances to those shapes, with the edges smoothed over one pixel of the size being drawn, so
the small sizes stay crisp rather than being scaled down from the large one.

Everything is computed with the standard library (the PNG encoder is the button textures'),
and the output is the same bytes on every run.

Usage:
    /usr/bin/python3 tools/make_icons.py [-o DIR]   (default DIR: packaging/icons)
        writes DIR/hicolor/<N>x<N>/apps/io.github.kvo.vibrelle.png for each size
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_button_textures import encode_png  # noqa: E402

ICON_NAME = "io.github.kvo.vibrelle"
SIZES = (16, 24, 32, 48, 64, 128, 256, 512)

GLASS_TOP = (34, 16, 58)
GLASS_BOTTOM = (10, 6, 24)
RING = (40, 230, 255)
RING_DEEP = (150, 90, 255)
CIRCLE = (255, 60, 170)


def coverage(distance, pixel):
    """How much of a pixel lies inside a shape `distance` from its edge (negative: inside)."""
    return min(1.0, max(0.0, 0.5 - distance / pixel))


def over(dst, colour, alpha):
    """`colour` at `alpha` over the premultiplied pixel `dst` (r, g, b, a)."""
    r, g, b, a = dst
    return (
        colour[0] * alpha + r * (1.0 - alpha),
        colour[1] * alpha + g * (1.0 - alpha),
        colour[2] * alpha + b * (1.0 - alpha),
        alpha + a * (1.0 - alpha),
    )


def rounded_square_distance(x, y, half, radius):
    qx = abs(x) - (half - radius)
    qy = abs(y) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def paint(size):
    pixel = 2.0 / size  # the icon spans -1..1
    rows = []
    for j in range(size):
        y = (j + 0.5) * pixel - 1.0
        row = bytearray()
        for i in range(size):
            x = (i + 0.5) * pixel - 1.0
            r = math.hypot(x, y)
            px = (0.0, 0.0, 0.0, 0.0)
            # The glass, lighter at the top.
            t = (y + 1.0) / 2.0
            glass = tuple(GLASS_TOP[k] * (1.0 - t) + GLASS_BOTTOM[k] * t for k in range(3))
            px = over(px, glass, coverage(rounded_square_distance(x, y, 0.94, 0.24), pixel))
            inside = px[3]
            # The ring's glow, then the ring, its colour deepening toward the bottom.
            ring_colour = tuple(RING[k] * (1.0 - t * 0.6) + RING_DEEP[k] * t * 0.6 for k in range(3))
            ring_distance = abs(r - 0.62) - 0.045
            glow = math.exp(-max(ring_distance, 0.0) * 14.0) * 0.55
            px = over(px, ring_colour, glow * inside)
            px = over(px, ring_colour, coverage(ring_distance, pixel) * inside)
            # The circle on its way to the ring, with its own glow.
            circle_distance = r - 0.36
            px = over(px, CIRCLE, math.exp(-max(circle_distance, 0.0) * 18.0) * 0.45 * inside)
            px = over(px, CIRCLE, coverage(circle_distance, pixel) * inside)
            # A highlight on the circle, up and to the left.
            highlight = math.hypot(x + 0.12, y + 0.13) - 0.1
            px = over(px, (255, 200, 235), coverage(highlight, pixel) * 0.35 * inside)
            a = px[3]
            if a <= 0.0:
                row += bytes((RING[0], RING[1], RING[2], 0))
                continue
            row += bytes(
                (
                    min(255, round(px[0] / a)),
                    min(255, round(px[1] / a)),
                    min(255, round(px[2] / a)),
                    min(255, round(a * 255.0)),
                )
            )
        rows.append(bytes(row))
    return encode_png(rows, size, size)


def main(argv):
    parser = argparse.ArgumentParser(description="Draws the game's icon at every theme size.")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("-o", "--out", default=os.path.join(root, "packaging", "icons"))
    args = parser.parse_args(argv)
    for size in SIZES:
        folder = os.path.join(args.out, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, ICON_NAME + ".png")
        with open(path, "wb") as out:
            out.write(paint(size))
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
