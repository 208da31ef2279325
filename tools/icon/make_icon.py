#!/usr/bin/env python3
"""Draws the program's icon and writes it as src/ui/app.ico and src/ui/app.png.

The icon is one 32 x 33 image (33 rows) with a 256-colour palette and a 1-bit transparency
mask, the classic Windows icon layout: an ICONDIR, one ICONDIRENTRY, then a BITMAPINFOHEADER of
doubled height (XOR image plus AND mask), the palette, the 8-bit pixels and the mask, all rows
bottom-up. The PNG carries the same pixels for desktops that want one.

Run from anywhere:  python3 tools/icon/make_icon.py
"""

import os
import struct
import zlib

WIDTH = 32
HEIGHT = 33

# Palette: index 0 is what transparent pixels hold; the rest are the colours the drawing uses.
# The table is padded to 256 entries so that the file declares a full 8-bit palette.
COLOURS = {
    "clear": (0, 0, 0),
    "outline": (32, 40, 64),
    "src_body": (58, 110, 190),
    "src_light": (120, 170, 235),
    "src_top": (165, 200, 245),
    "dst_body": (40, 150, 90),
    "dst_light": (100, 200, 140),
    "dst_top": (160, 230, 185),
    "arrow": (230, 60, 40),
    "arrow_edge": (140, 20, 10),
    "band": (255, 255, 255),
    "shadow": (120, 120, 130),
}
NAMES = list(COLOURS)
INDEX = {name: i for i, name in enumerate(NAMES)}


def draw():
    """Returns HEIGHT rows of WIDTH palette names, None where the icon is transparent."""
    px = [[None] * WIDTH for _ in range(HEIGHT)]

    def put(x, y, name):
        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
            px[y][x] = name

    def in_ellipse(x, y, cx, cy, rx, ry):
        return ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0

    def cylinder(left, top, width, height, body, light, lid):
        rx = width / 2.0
        ry = 2.6
        cx = left + rx
        top_cy = top + ry
        bottom_cy = top + height - ry
        for y in range(top, top + height + 1):
            for x in range(left, left + width):
                inside_body = top_cy <= y + 0.5 <= bottom_cy
                inside = inside_body or in_ellipse(x, y, cx, top_cy, rx, ry) or in_ellipse(
                    x, y, cx, bottom_cy, rx, ry)
                if not inside:
                    continue
                # Left third lit, the rest in the body colour: a simple round look.
                put(x, y, light if x < left + width // 3 else body)
        # Two bands, as on a disk stack.
        for band_cy in (top + height * 0.42, top + height * 0.70):
            for x in range(left, left + width):
                for y in range(int(band_cy) - 1, int(band_cy) + 3):
                    if in_ellipse(x, y, cx, band_cy, rx, ry) and not in_ellipse(
                            x, y, cx, band_cy - 1.2, rx, ry):
                        put(x, y, "band")
        # The lid.
        for y in range(top, top + int(2 * ry) + 1):
            for x in range(left, left + width):
                if in_ellipse(x, y, cx, top_cy, rx - 0.6, ry - 0.6):
                    put(x, y, lid)
        return (left, top, width, height)

    def outline():
        # Every opaque pixel next to a transparent one (or the edge) becomes the outline.
        edge = []
        for y in range(HEIGHT):
            for x in range(WIDTH):
                if px[y][x] is None or px[y][x] in ("arrow", "arrow_edge", "shadow"):
                    continue
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    nx, ny = x + dx, y + dy
                    if not (0 <= nx < WIDTH and 0 <= ny < HEIGHT) or px[ny][nx] is None:
                        edge.append((x, y))
                        break
        for x, y in edge:
            px[y][x] = "outline"

    # Shadow on the 33rd row and the one above it, under both disks.
    for x in range(2, 30):
        if x not in (14, 15, 16, 17):
            put(x, 32, "shadow")
    cylinder(0, 4, 14, 27, "src_body", "src_light", "src_top")
    cylinder(18, 4, 14, 27, "dst_body", "dst_light", "dst_top")
    outline()

    # The arrow from the source to the destination, over the gap and both disks.
    for y in range(15, 19):
        for x in range(7, 20):
            put(x, y, "arrow")
    # Head: a triangle pointing right, tip at x = 27.
    for x in range(20, 28):
        half = (27 - x) * 6 // 7
        for y in range(16 - half, 17 + half + 1):
            put(x, y, "arrow")
    # Dark edge around the arrow so it reads on both colours.
    arrow = {(x, y) for y in range(HEIGHT) for x in range(WIDTH) if px[y][x] == "arrow"}
    for x, y in arrow:
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            if (x + dx, y + dy) not in arrow:
                px[y][x] = "arrow_edge"
                break
    return px


def write_ico(px, path):
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in COLOURS.values())
    palette += b"\0\0\0\0" * (256 - len(COLOURS))

    xor_rows = []
    and_rows = []
    and_stride = ((WIDTH + 31) // 32) * 4
    for row in reversed(px):  # bottom-up
        xor_rows.append(bytes(INDEX[name] if name else 0 for name in row))
        bits = bytearray(and_stride)
        for x, name in enumerate(row):
            if name is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    xor = b"".join(xor_rows)
    mask = b"".join(and_rows)

    header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT * 2, 1, 8, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + palette + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", WIDTH, HEIGHT, 0, 0, 1, 8, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


def write_png(px, path):
    raw = bytearray()
    for row in px:
        raw.append(0)  # filter: none
        for name in row:
            if name is None:
                raw += b"\0\0\0\0"
            else:
                raw += bytes(COLOURS[name]) + b"\xff"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(
        bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    px = draw()
    write_ico(px, os.path.join(root, "src", "ui", "app.ico"))
    write_png(px, os.path.join(root, "src", "ui", "app.png"))


if __name__ == "__main__":
    main()
