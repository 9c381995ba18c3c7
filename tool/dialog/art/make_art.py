#!/usr/bin/env python3
"""Draws the control tool's icon and banner from quillon-art.txt.

    make_art.py [OUTDIR]    writes OUTDIR/quillon.ico and OUTDIR/banner.bmp
                            (default: beside this script)

Standard library only, and no fonts: the same source gives the same bytes.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

BANNER_SIZE = (285, 40)
BANNER_GROUND = (224, 224, 224)     # light grey
WORD_GREY = (128, 128, 128)
WORD_SHADOW = (176, 176, 176)       # a soft drop shadow lifts the letters off the ground
WORD_ORIGIN = (6, 0)
BANNER_COLOURS = {
    "paper": (255, 255, 255),
    "outline": (64, 64, 64),
    "ink": (0, 0, 0),
    "light": (200, 200, 200),
    "body": (160, 160, 160),
    "shadow": (96, 96, 96),
    "lamp": (0, 192, 0),
}

# The sixteen colours of a 4-bit icon, in their usual order.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, SILVER, GREY, BLUE, WHITE = 0, 7, 8, 12, 15
TRANSPARENT = None


def read_sections(path):
    sections, name = {}, None
    with open(path, encoding="ascii") as source:
        for line in source:
            line = line.rstrip("\n")
            if not line or line == "#" or line.startswith("# "):   # notes; legends use "#" without a blank
                continue
            if line.startswith("[") and line.endswith("]"):
                name = line[1:-1]
                sections[name] = []
            elif name is not None and line:
                sections[name].append(line)
    return sections


def blend(ground, ink, coverage):
    return tuple(round(g + (i - g) * coverage / 8) for g, i in zip(ground, ink))


def draw_banner(sections):
    width, height = BANNER_SIZE
    pixels = [[BANNER_GROUND] * width for _ in range(height)]
    word = sections["word"]
    ox, oy = WORD_ORIGIN
    for dx, dy, colour in ((2, 2, WORD_SHADOW), (0, 0, WORD_GREY)):
        for y, row in enumerate(word):
            for x, cell in enumerate(row):
                coverage = 0 if cell == "." else int(cell)
                px, py = ox + x + dx, oy + y + dy
                if coverage and 0 <= px < width and 0 <= py < height:
                    pixels[py][px] = blend(pixels[py][px], colour, coverage)
    for line in sections["printer"]:
        x, y, w, h, name = line.split()
        for py in range(int(y), int(y) + int(h)):
            for px in range(int(x), int(x) + int(w)):
                pixels[py][px] = BANNER_COLOURS[name]
    return pixels


def write_bmp8(path, pixels):
    height, width = len(pixels), len(pixels[0])
    palette = sorted({colour for row in pixels for colour in row})
    if len(palette) > 256:
        raise SystemExit("banner has more than 256 colours")
    index = {colour: i for i, colour in enumerate(palette)}
    palette += [(0, 0, 0)] * (256 - len(palette))
    stride = (width + 3) & ~3
    bits = b"".join(bytes(index[c] for c in row) + b"\0" * (stride - width) for row in reversed(pixels))
    offset = 14 + 40 + 256 * 4
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(bits), 2835, 2835, 256, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    with open(path, "wb") as out:
        out.write(header + info + quads + bits)


def draw_keys(size, sections, prefix):
    """Four grey keys in a 2 x 2 grid, legends 1, 2, 3 and = in blue."""
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    pitch = size // 2
    body = pitch - 1                  # one transparent pixel between keys
    for n, legend in enumerate("123="):
        kx, ky = (n % 2) * pitch, (n // 2) * pitch
        for y in range(body):
            for x in range(body):
                edge = x in (0, body - 1) or y in (0, body - 1)
                colour = BLACK if edge else SILVER
                if not edge and size >= 32:   # bevel on the large keys only
                    if x == 1 or y == 1:
                        colour = WHITE
                    elif x == body - 2 or y == body - 2:
                        colour = GREY
                pixels[ky + y][kx + x] = colour
        glyph = sections[prefix + legend]
        gx = kx + (body - len(glyph[0])) // 2
        gy = ky + (body - len(glyph)) // 2
        for y, row in enumerate(glyph):
            for x, cell in enumerate(row):
                if cell == "#":
                    pixels[gy + y][gx + x] = BLUE
    return pixels


def icon_image(pixels):
    size = len(pixels)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for row in reversed(pixels):
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(packed + b"\0" * (xor_stride - len(packed)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c is TRANSPARENT else 0)
        packed_mask = mask.to_bytes(size // 8, "big")
        and_rows.append(packed_mask + b"\0" * (and_stride - len(packed_mask)))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(bits), 0, 0, 16, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    return info + quads + bits


def write_ico(path, images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset + len(blobs))
        blobs += blob
    with open(path, "wb") as out:
        out.write(directory + entries + blobs)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else HERE
    sections = read_sections(os.path.join(HERE, "quillon-art.txt"))
    write_bmp8(os.path.join(outdir, "banner.bmp"), draw_banner(sections))
    write_ico(os.path.join(outdir, "quillon.ico"), [
        (32, icon_image(draw_keys(32, sections, "key"))),
        (16, icon_image(draw_keys(16, sections, "small"))),
    ])


if __name__ == "__main__":
    main()
