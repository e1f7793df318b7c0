#!/usr/bin/python3
"""Draws the main menu's image buttons as RGBA PNGs.

Six 800 x 250 images, one resting ("inactive") and one pressed ("active") look for each of
the three button styles:

    button_normal_inactive.png   button_normal_active.png   violet -> cyan
    button_start_inactive.png    button_start_active.png    green  -> cyan
    button_exit_inactive.png     button_exit_active.png     red    -> hot pink

Each is a rounded rectangle of dark, slightly tinted glass with a faint sheen near the top,
a crisp neon outline whose colour runs left to right along the button, and a soft glow
around it. The glow reaches zero well inside the image, so nothing is clipped at the
edges. The images carry no text: the game centres a white label over them, which is why
the middle of the glass stays dark in every variant. The pressed look fills the glass with
more of the button's colour and has a thicker, hotter outline and a stronger glow.

The game shows a button at 400 x 125.2 GUI pixels times the UI scale, so these images are
pixel-sharp at scale 2 and filter smoothly at the other scales. Fully transparent pixels
carry the glow colour rather than black so that linear filtering does not darken the
glow's fringe.

Everything is computed here with the standard library (the PNG encoder included), and the
output is the same bytes on every run.

Usage:
    /usr/bin/python3 tools/make_button_textures.py [-o DIR]   (default DIR: assets/textures)
    /usr/bin/python3 tools/make_button_textures.py --check [-o DIR]
        decodes the PNGs in DIR and checks their size, transparent borders, dark centres
        and that every pressed look is brighter than its resting look
"""

import argparse
import math
import os
import struct
import sys
import zlib

WIDTH = 800
HEIGHT = 250

# Geometry of the glass panel, in image pixels. The panel is centred; the margin leaves
# room for the glow, which ends GLOW_REACH pixels outside the panel's edge.
MARGIN_X = 26
MARGIN_Y = 26
GLOW_REACH = 22.0
RADIUS = (HEIGHT - 2 * MARGIN_Y) / 3.0

# Distances from the panel's edge are looked up in tables sampled this many times a pixel.
STEPS_PER_PIXEL = 16

BASE_GLASS = (10, 7, 26)  # the night-blue the glass is made of before tinting

STYLES = {
    "normal": ((0xAD, 0x4D, 0xFF), (0x00, 0xE5, 0xFF)),
    "start": ((0x33, 0xFF, 0x99), (0x00, 0xE5, 0xFF)),
    "exit": ((0xFF, 0x33, 0x66), (0xFF, 0x38, 0x99)),
}

# How each state is lit. Widths and reaches are in image pixels, strengths in 0..1.
LOOKS = {
    "inactive": {
        "stroke_width": 3.5,
        "core_white": 0.38,  # how far the middle of the outline goes towards white
        "glow": 0.72,  # outer glow's opacity right at the outline
        "inner_glow": 0.22,  # light thrown onto the glass just inside the outline
        "inner_reach": 16.0,
        "glass_alpha": 0.64,
        "glass_tint": 0.10,  # share of the button colour in the glass
        "fill_glow": 0.0,  # colour spread over the whole glass, strongest at the rim
        "sheen": 0.07,
        "hairline": 0.22,  # opacity of the thin inner rim
    },
    "active": {
        "stroke_width": 5.5,
        "core_white": 0.62,
        "glow": 0.90,
        "inner_glow": 0.45,
        "inner_reach": 26.0,
        "glass_alpha": 0.74,
        "glass_tint": 0.22,
        "fill_glow": 0.16,
        "sheen": 0.10,
        "hairline": 0.38,
    },
}

NAMES = [f"button_{style}_{state}.png" for state in ("inactive", "active") for style in STYLES]


# ---- Shape ----


def quadrant_distances():
    """Signed distance from each pixel centre to the panel's edge (negative inside).

    The panel is symmetric about both centre lines, so one quadrant is enough: returns
    rows for y = 0 .. HEIGHT/2 - 1 and x = 0 .. WIDTH/2 - 1 of the top-left quarter.
    """
    half_w = WIDTH / 2.0 - MARGIN_X
    half_h = HEIGHT / 2.0 - MARGIN_Y
    inner_w = half_w - RADIUS
    inner_h = half_h - RADIUS
    rows = []
    for y in range(HEIGHT // 2):
        qy = abs(y + 0.5 - HEIGHT / 2.0) - inner_h
        row = []
        for x in range(WIDTH // 2):
            qx = abs(x + 0.5 - WIDTH / 2.0) - inner_w
            if qx > 0.0 and qy > 0.0:
                d = math.sqrt(qx * qx + qy * qy) - RADIUS
            else:
                d = max(qx, qy) - RADIUS
            row.append(d)
        rows.append(row)
    return rows


def full_distance_rows(quadrant):
    """Mirrors the quadrant into all HEIGHT rows of WIDTH distances."""
    rows = []
    for row in quadrant:
        rows.append(row + row[::-1])
    return rows + rows[::-1]


# ---- Lighting ----


def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def smoothstep(v):
    v = clamp01(v)
    return v * v * (3.0 - 2.0 * v)


def distance_profile(look):
    """Per-distance weights of every layer, sampled STEPS_PER_PIXEL times a pixel.

    Index i stands for the signed distance i / STEPS_PER_PIXEL - offset, where offset is
    returned alongside. Each entry is (glass coverage, inner light, outer glow, outline
    coverage, outline whiteness).
    """
    w = look["stroke_width"]
    centre = -w / 2.0  # the outline sits just inside the edge, so the glow starts at it
    inner_reach = look["inner_reach"]
    lo = -(HEIGHT / 2.0)
    hi = GLOW_REACH + 2.0
    offset = -lo
    table = []
    n = int((hi - lo) * STEPS_PER_PIXEL) + 1
    for i in range(n):
        d = i / STEPS_PER_PIXEL + lo
        glass = clamp01(0.5 - d)
        # Inner light: falls off exponentially from the outline towards the middle.
        depth = max(0.0, centre - d)
        inner = look["inner_glow"] * math.exp(-3.0 * depth / inner_reach) * glass
        # Outer glow: a wide soft halo plus a tight bright one, both shaped to reach
        # exactly zero at GLOW_REACH so the image border stays transparent.
        out = max(0.0, d - centre)
        t = clamp01(out / (GLOW_REACH - centre))
        fade = (1.0 - t) * (1.0 - t)
        halo = look["glow"] * fade * (0.55 * math.exp(-out / 7.0) + 0.45 * (1.0 - smoothstep(t)))
        halo = min(1.0, halo) if d > centre else 0.0
        # Outline: antialiased band around `centre`, hotter (whiter) along its middle.
        band = abs(d - centre)
        stroke = clamp01(w / 2.0 + 0.5 - band)
        core = look["core_white"] * max(0.0, 1.0 - band / (w / 2.0)) ** 1.5
        table.append((glass, inner, halo, stroke, core))
    return table, offset


def hairline_profile(look):
    """Coverage of a thin rim inset from the outline, indexed like distance_profile."""
    inset = look["stroke_width"] + 6.0
    lo = -(HEIGHT / 2.0)
    hi = GLOW_REACH + 2.0
    n = int((hi - lo) * STEPS_PER_PIXEL) + 1
    out = []
    for i in range(n):
        d = i / STEPS_PER_PIXEL + lo
        out.append(look["hairline"] * clamp01(0.6 + 0.5 - abs(d + inset)))
    return out


def gradient_colours(left, right):
    """Neon colour for every column: left colour up to the panel, right colour after."""
    x0 = MARGIN_X + RADIUS * 0.5
    x1 = WIDTH - MARGIN_X - RADIUS * 0.5
    cols = []
    for x in range(WIDTH):
        t = smoothstep((x + 0.5 - x0) / (x1 - x0))
        cols.append(tuple(left[c] + (right[c] - left[c]) * t for c in range(3)))
    return cols


def sheen_rows(look):
    """Extra whiteness of the glass per row: a soft band over the upper part."""
    top = MARGIN_Y
    height = HEIGHT - 2 * MARGIN_Y
    rows = []
    for y in range(HEIGHT):
        v = (y + 0.5 - top) / height
        # Peaks a little below the top rim and is gone before the middle.
        s = math.exp(-((v - 0.12) / 0.16) ** 2)
        rows.append(look["sheen"] * s)
    return rows


# ---- Painting ----


def paint(style, state, distances):
    """Returns the image as a list of HEIGHT rows of RGBA bytes."""
    look = LOOKS[state]
    left, right = STYLES[style]
    colours = gradient_colours(left, right)
    profile, offset = distance_profile(look)
    hair = hairline_profile(look)
    sheens = sheen_rows(look)
    scale = STEPS_PER_PIXEL
    last = len(profile) - 1

    glass_a = look["glass_alpha"]
    tint = look["glass_tint"]
    fill = look["fill_glow"]
    br, bg, bb = BASE_GLASS

    # Per column: the glass colour, the night-blue base tinted towards the neon.
    glass_cols = [
        (br + (c[0] - br) * tint, bg + (c[1] - bg) * tint, bb + (c[2] - bb) * tint) for c in colours
    ]
    # How much of the button colour the glass picks up across its face when lit: more
    # towards the rim, leaving the middle dark enough for the label.
    half_w = WIDTH / 2.0 - MARGIN_X
    half_h = HEIGHT / 2.0 - MARGIN_Y

    rows = []
    for y in range(HEIGHT):
        drow = distances[y]
        sheen = sheens[y]
        vy = (y + 0.5 - HEIGHT / 2.0) / half_h
        out = bytearray(WIDTH * 4)
        for x in range(WIDTH):
            d = drow[x]
            cr, cg, cb = colours[x]
            if d >= GLOW_REACH:
                # Transparent, but carrying the glow colour for clean filtering.
                o = 4 * x
                out[o] = int(cr + 0.5)
                out[o + 1] = int(cg + 0.5)
                out[o + 2] = int(cb + 0.5)
                continue
            i = int((d + offset) * scale + 0.5)
            if i > last:
                i = last
            g, inner, halo, stroke, core = profile[i]
            h = hair[i]

            # Premultiplied accumulation, back to front.
            # 1. Glass, with its sheen and the light thrown in from the outline.
            gr, gg, gb = glass_cols[x]
            a = glass_a * g
            if fill and g > 0.0:
                vx = (x + 0.5 - WIDTH / 2.0) / half_w
                edge = min(1.0, vx * vx * vx * vx * 0.6 + vy * vy * 0.5)
                f = fill * (0.45 + 0.55 * edge)
                gr += (cr - gr) * f
                gg += (cg - gg) * f
                gb += (cb - gb) * f
            lit = inner + h
            gr += (cr - gr) * lit + (255.0 - gr) * sheen
            gg += (cg - gg) * lit + (255.0 - gg) * sheen
            gb += (cb - gb) * lit + (255.0 - gb) * sheen
            pr = gr * a
            pg = gg * a
            pb = gb * a
            # Light also makes the glass a little more opaque where it glows.
            a_extra = (lit + sheen) * g * (1.0 - a)
            pr += cr * a_extra
            pg += cg * a_extra
            pb += cb * a_extra
            a += a_extra

            # 2. Outer glow, over the glass edge.
            if halo > 0.0:
                k = 1.0 - halo
                pr = cr * halo + pr * k
                pg = cg * halo + pg * k
                pb = cb * halo + pb * k
                a = halo + a * k

            # 3. Outline, hotter towards white along its middle.
            if stroke > 0.0:
                sr = cr + (255.0 - cr) * core
                sg = cg + (255.0 - cg) * core
                sb = cb + (255.0 - cb) * core
                k = 1.0 - stroke
                pr = sr * stroke + pr * k
                pg = sg * stroke + pg * k
                pb = sb * stroke + pb * k
                a = stroke + a * k

            o = 4 * x
            if a <= 0.0:
                out[o] = int(cr + 0.5)
                out[o + 1] = int(cg + 0.5)
                out[o + 2] = int(cb + 0.5)
                continue
            inv = 1.0 / a
            r = pr * inv
            gv = pg * inv
            b = pb * inv
            out[o] = 255 if r >= 254.5 else int(r + 0.5)
            out[o + 1] = 255 if gv >= 254.5 else int(gv + 0.5)
            out[o + 2] = 255 if b >= 254.5 else int(b + 0.5)
            out[o + 3] = 255 if a >= 0.998 else int(a * 255.0 + 0.5)
        rows.append(bytes(out))
    return rows


# ---- PNG ----


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(rows, width, height):
    """An 8-bit RGBA PNG. Every row uses the Sub filter: the images change slowly from left
    to right, which Sub turns into long runs of small values that compress well."""
    raw = bytearray()
    for row in rows:
        raw.append(1)
        raw += row[:4]
        raw += bytes((a - b) & 0xFF for a, b in zip(row[4:], row))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + png_chunk(b"IHDR", header)
        + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + png_chunk(b"IEND", b"")
    )


def decode_png(data):
    """Reads back an 8-bit RGBA, non-interlaced PNG (any filter) as (width, height, rows)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos = 8
    idat = bytearray()
    width = height = None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos : pos + 4])
        kind = data[pos + 4 : pos + 8]
        body = data[pos + 8 : pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length : pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError(f"bad CRC in {kind!r}")
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                raise ValueError("expected 8-bit RGBA, not interlaced")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(bytes(idat))
    stride = width * 4
    rows = []
    prev = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        ftype = raw[start]
        line = bytearray(raw[start + 1 : start + 1 + stride])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xFF
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xFF
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
            elif ftype != 0:
                raise ValueError(f"unknown filter {ftype}")
        rows.append(bytes(line))
        prev = line
    return width, height, rows


# ---- Checks ----


def luminance(r, g, b):
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def composite_over_background(pixel):
    """The pixel drawn over the darkest part of the menu background (#020210)."""
    r, g, b, a = pixel
    k = a / 255.0
    return (r * k + 2 * (1 - k), g * k + 2 * (1 - k), b * k + 16 * (1 - k))


def check(directory):
    """Returns a list of problems found in the PNGs in `directory` (empty when all is well)."""
    problems = []
    brightness = {}
    for name in NAMES:
        path = os.path.join(directory, name)
        with open(path, "rb") as f:
            width, height, rows = decode_png(f.read())
        if (width, height) != (WIDTH, HEIGHT):
            problems.append(f"{name}: {width}x{height}, expected {WIDTH}x{HEIGHT}")
            continue

        def px(x, y):
            o = 4 * x
            return tuple(rows[y][o : o + 4])

        # Border: nothing visible within two pixels of the edge (no clipped glow).
        for y in range(height):
            for x in list(range(2)) + list(range(width - 2, width)):
                if px(x, y)[3]:
                    problems.append(f"{name}: visible pixel at border ({x},{y})")
                    break
        for y in list(range(2)) + list(range(height - 2, height)):
            if any(rows[y][3::4]):
                problems.append(f"{name}: visible pixel in border row {y}")
        # Label area: the middle stays dark and fairly opaque so white text reads well.
        # White on the brightest label-area pixel must keep at least a 7:1 contrast.
        worst = 0.0
        for y in range(height // 2 - 30, height // 2 + 30, 3):
            for x in range(width // 2 - 220, width // 2 + 220, 5):
                p = px(x, y)
                if p[3] < 140:
                    problems.append(f"{name}: label area too transparent at ({x},{y})")
                    break
                worst = max(worst, luminance(*composite_over_background(p)))
        rel = (worst / 255.0) ** 2.2
        if (1.05) / (rel + 0.05) < 7.0:
            problems.append(f"{name}: label area too bright (luminance {worst:.0f})")
        # Outline: the middle column crosses a bright outline near the top edge.
        rim = max(luminance(*px(width // 2, y)[:3]) for y in range(MARGIN_Y - 4, MARGIN_Y + 8))
        if rim < 120:
            problems.append(f"{name}: outline too dim ({rim:.0f})")
        # Total light, for comparing pressed with resting.
        total = 0.0
        for row in rows[::5]:
            for o in range(0, len(row), 20):
                r, g, b, a = row[o : o + 4]
                total += luminance(r, g, b) * a
        brightness[name] = total
    for style in STYLES:
        rest = brightness.get(f"button_{style}_inactive.png")
        lit = brightness.get(f"button_{style}_active.png")
        if rest is not None and lit is not None and lit < rest * 1.25:
            problems.append(f"button_{style}_active.png is not clearly brighter than inactive")
    return problems


# ---- Main ----


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(os.path.dirname(here), "assets", "textures")
    parser = argparse.ArgumentParser(description="Draw the main menu's button textures.")
    parser.add_argument("-o", dest="out", default=default_out, help="output directory")
    parser.add_argument("--check", action="store_true", help="check existing PNGs instead")
    args = parser.parse_args(argv)

    if args.check:
        problems = check(args.out)
        for p in problems:
            print(p, file=sys.stderr)
        print("ok" if not problems else f"{len(problems)} problem(s)")
        return 1 if problems else 0

    os.makedirs(args.out, exist_ok=True)
    distances = full_distance_rows(quadrant_distances())
    for state in ("inactive", "active"):
        for style in STYLES:
            rows = paint(style, state, distances)
            name = f"button_{style}_{state}.png"
            data = encode_png(rows, WIDTH, HEIGHT)
            with open(os.path.join(args.out, name), "wb") as f:
                f.write(data)
            print(f"{name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
