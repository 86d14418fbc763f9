#!/usr/bin/env python3
"""Draw Quellor's tray icons and write them as Windows .ico files.

Usage: python3 tools/icongen/icongen.py OUTDIR

Writes OUTDIR/quellor.ico (two overlapping browser windows) and
OUTDIR/alert.ico (the same picture crossed out by a red prohibition sign).
Each file holds 32x32 in 16 colours, 32x32 in 256 colours and 16x16 in
256 colours. Standard library only, so the build needs nothing extra.
"""

import os
import struct
import sys

# Colours (R, G, B).
FRAME = (0x24, 0x34, 0x52)
TITLE = (0x2A, 0x64, 0xD0)
TITLE_HI = (0x5C, 0x94, 0xEC)
BACK_TITLE = (0x3F, 0x6F, 0xB8)
PAGE = (0xFF, 0xFF, 0xFF)
BACK_PAGE = (0xDC, 0xE3, 0xEC)
TEXT = (0x7C, 0x8A, 0xA0)
BUTTON = (0xFF, 0xFF, 0xFF)
RED = (0xD8, 0x1E, 0x1E)

# The standard 16-colour palette; the 4-bit image must use exactly these so
# that it looks the same on any 16-colour display.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# How each drawing colour looks in 16 colours. Chosen by hand: nearest-colour
# matching would turn the back page white and the text lines silver.
VGA_MAP = {
    FRAME: (0x00, 0x00, 0x80),
    TITLE: (0x00, 0x00, 0xFF),
    TITLE_HI: (0x00, 0x00, 0xFF),
    BACK_TITLE: (0x00, 0x00, 0xFF),
    PAGE: (0xFF, 0xFF, 0xFF),
    BACK_PAGE: (0xC0, 0xC0, 0xC0),
    TEXT: (0x80, 0x80, 0x80),
    RED: (0xFF, 0x00, 0x00),
}


# ---------------------------------------------------------------- shapes
# Each shape answers "which colour, if any, covers point (x, y)" in pixel
# coordinates; later shapes paint over earlier ones.

def rect(x0, y0, x1, y1, colour):
    def hit(x, y):
        return colour if x0 <= x < x1 and y0 <= y < y1 else None
    return hit


def ring(cx, cy, r_out, r_in, colour):
    def hit(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        return colour if r_in * r_in <= d2 < r_out * r_out else None
    return hit


def slash(cx, cy, radius, half_width, colour):
    """Bar from top-left to bottom-right, kept inside a circle."""
    def hit(x, y):
        dx, dy = x - cx, y - cy
        if dx * dx + dy * dy >= radius * radius:
            return None
        # distance from the line y = x through the centre
        return colour if abs(dx - dy) / 2 ** 0.5 < half_width else None
    return hit


def window(x0, y0, x1, y1, title_h, title, page, lines, front):
    """A browser window: frame, title bar, page with a few 'text' lines.

    lines are (x0, x1, y) with y counted inside the page; front marks the
    active window, drawn on top.
    """
    shapes = [
        rect(x0, y0, x1, y1, FRAME),
        rect(x0 + 1, y0 + 1, x1 - 1, y0 + 1 + title_h, title),
        rect(x0 + 1, y0 + 1 + title_h, x1 - 1, y1 - 1, page),
    ]
    if front and title_h >= 3:
        # the active window gets a lighter top row and a close box; at
        # 16x16 there is no room for either
        shapes.append(rect(x0 + 1, y0 + 1, x1 - 1, y0 + 2, TITLE_HI))
        by = y0 + 1 + (title_h - 2) // 2
        shapes.append(rect(x1 - 4, by, x1 - 2, by + 2, BUTTON))
    page_top = y0 + 1 + title_h
    for lx0, lx1, ly in lines:
        shapes.append(rect(x0 + lx0, page_top + ly, x0 + lx1, page_top + ly + 1, TEXT))
    return shapes


def windows_scene(size):
    if size == 32:
        back = window(1, 2, 22, 21, 4, BACK_TITLE, BACK_PAGE,
                      [(3, 17, 2), (3, 14, 5), (3, 16, 8), (3, 11, 11)], False)
        front = window(9, 10, 31, 30, 4, TITLE, PAGE,
                       [(3, 18, 2), (3, 15, 5), (3, 17, 8), (3, 12, 11)], True)
    elif size == 16:
        back = window(0, 1, 11, 11, 2, BACK_TITLE, BACK_PAGE,
                      [(2, 8, 1), (2, 6, 3)], False)
        front = window(5, 5, 16, 15, 2, TITLE, PAGE,
                       [(2, 9, 1), (2, 7, 3), (2, 8, 5)], False)
    else:
        raise ValueError(size)
    return back + front


def sign_scene(size):
    c = size / 2.0
    if size == 32:
        r_out, r_in, half = 15.6, 11.6, 2.1
    else:
        r_out, r_in, half = 8.0, 5.9, 1.0
    # the bar runs into the ring so no gap opens where they meet
    return [ring(c, c, r_out, r_in, RED), slash(c, c, r_out, half, RED)]


# ---------------------------------------------------------------- render

def render(shapes, size, smooth, sub=4):
    """Return rows of (r, g, b) or None (transparent), top row first.

    Each pixel is sampled sub x sub times. smooth averages the samples
    (256 colours); otherwise the most common sample colour wins so the
    16-colour image keeps its exact colours.
    """
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            samples = []
            for sy in range(sub):
                for sx in range(sub):
                    x = px + (sx + 0.5) / sub
                    y = py + (sy + 0.5) / sub
                    colour = None
                    for shape in shapes:
                        colour = shape(x, y) or colour
                    samples.append(colour)
            solid = [s for s in samples if s is not None]
            # the mask is 1-bit: a pixel is opaque when mostly covered
            if len(solid) * 2 < len(samples):
                row.append(None)
            elif smooth:
                row.append(tuple(round(sum(c[i] for c in solid) / len(solid))
                                 for i in range(3)))
            else:
                row.append(max(set(solid), key=solid.count))
        rows.append(row)
    return rows


# ---------------------------------------------------------------- ico writer

def _pad4(data):
    return data + b"\0" * (-len(data) % 4)


def dib(rows, bpp):
    """BITMAPINFOHEADER + palette + XOR bits + AND mask, as stored in an .ico."""
    size = len(rows)
    if bpp == 4:
        palette = list(VGA16)
        lookup = lambda c: VGA16.index(VGA_MAP[c])
    else:
        # index 0 stays black: transparent pixels use it, so that XOR leaves
        # the screen unchanged where the mask lets it through
        used = sorted({c for row in rows for c in row if c is not None} - {(0, 0, 0)})
        palette = [(0, 0, 0)] + used
        if len(palette) > 256:
            raise ValueError("more than 256 colours")
        palette += [(0, 0, 0)] * (256 - len(palette))
        index = {c: i for i, c in enumerate(palette[:len(used) + 1])}
        lookup = index.__getitem__

    xor = b""
    mask = b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        idx = [0 if c is None else lookup(c) for c in row]
        if bpp == 4:
            line = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        else:
            line = bytes(idx)
        xor += _pad4(line)
        bits = 0
        mline = b""
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                mline += bytes([bits])
                bits = 0
        mask += _pad4(mline)

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + pal + xor + mask


def ico(images):
    """images: list of (size, bpp, rows)."""
    out_dir = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for size, bpp, rows in images:
        blob = dib(rows, bpp)
        colours = 16 if bpp == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                               1, bpp, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return out_dir + entries + blobs


def build(scene):
    return ico([
        (32, 4, render(scene(32), 32, smooth=False)),
        (32, 8, render(scene(32), 32, smooth=True)),
        # at 16x16 blended edges turn to mush; one sample at each pixel's
        # centre gives a clean, symmetric ring
        (16, 8, render(scene(16), 16, smooth=False, sub=1)),
    ])


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: icongen.py OUTDIR\n")
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    icons = {
        "quellor.ico": windows_scene,
        "alert.ico": lambda size: windows_scene(size) + sign_scene(size),
    }
    for name, scene in icons.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(build(scene))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
