#!/usr/bin/env python3
"""Writes the crafted icon corpus of this folder.

Every file is assembled byte by byte with struct from the published ICO layout (6-byte header,
16-byte directory entries, BITMAPINFOHEADER images whose height covers the colour image and the
AND mask, or PNG images made here with zlib). No imaging library is used. For each file the
script also writes:

  <name>.txt            how the file was made and what it proves
  expected/<name>.pam   for icons that draw: the 32 x 32 icon as a true-colour display shows it
                        (RGBA, straight alpha), computed from the logical pixels, scaled by
                        pixel repetition where the image is smaller
  cases.tsv             name, outcome (ok, cursor, short, damaged), note

Run it from anywhere: python3 tests/data/ico/make_corpus.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
EXPECTED = os.path.join(HERE, "expected")
CASES = []


def dib(width, height, bits, pixels, mask, palette=()):
    """pixels[y][x]: palette index or (r, g, b[, a]); mask[y][x]: 1 = transparent. Rows top down."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    if bits <= 8:
        table += b"\0" * (4 * ((1 << bits) - len(palette)))
    stride = (width * bits + 31) // 32 * 4
    rows = b""
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            v = pixels[y][x]
            if bits <= 8:
                bit = x * bits
                row[bit // 8] |= v << (8 - bits - bit % 8)
            elif bits == 24:
                row[3 * x:3 * x + 3] = bytes((v[2], v[1], v[0]))
            else:
                row[4 * x:4 * x + 4] = bytes((v[2], v[1], v[0], v[3]))
        rows += bytes(row)
    mstride = (width + 31) // 32 * 4
    masks = b""
    for y in reversed(range(height)):
        row = bytearray(mstride)
        for x in range(width):
            if mask[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        masks += bytes(row)
    return header + table + rows + masks


def png(width, height, rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + b"".join(bytes(rgba[y][x]) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def icon(images, kind=1, count=None):
    """images: list of (width, height, colour count byte, bit count, data)."""
    count = len(images) if count is None else count
    out = struct.pack("<HHH", 0, kind, count)
    offset = 6 + 16 * len(images)
    body = b""
    for (w, h, colors, bits, data) in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colors, 0, 1, bits, len(data), offset + len(body))
        body += data
    return out + body


def expected(name, logical):
    """logical[y][x] = (r, g, b, a), any square size that divides 32."""
    n = len(logical)
    k = 32 // n
    with open(os.path.join(EXPECTED, name + ".pam"), "wb") as f:
        f.write(b"P7\nWIDTH 32\nHEIGHT 32\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n")
        for y in range(32):
            for x in range(32):
                f.write(bytes(logical[y // k][x // k]))


def case(name, data, outcome, note, logical=None):
    with open(os.path.join(HERE, name + ".ico"), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, name + ".txt"), "w") as f:
        f.write(note + "\n")
    if logical is not None:
        expected(name, logical)
    CASES.append((name, outcome, note))


PAL16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def grid(n, f):
    return [[f(x, y) for x in range(n)] for y in range(n)]


def ring_mask(n):
    # Transparent outside a centred square of half the size.
    return grid(n, lambda x, y: 0 if n // 4 <= x < 3 * n // 4 and n // 4 <= y < 3 * n // 4 else 1)


def shown(n, colour, mask):
    return grid(n, lambda x, y: (0, 0, 0, 0) if mask[y][x] else tuple(colour(x, y)) + (255,))


def main():
    os.makedirs(EXPECTED, exist_ok=True)
    # 1 bit: black/white checker, 32 x 32.
    pal2 = [(0, 0, 0), (255, 255, 255)]
    px = grid(32, lambda x, y: (x // 4 + y // 4) % 2)
    m = ring_mask(32)
    case("mono-32", icon([(32, 32, 2, 1, dib(32, 32, 1, px, m, pal2))]), "ok",
         "1 bit per pixel, 32 x 32, checker of 4-pixel squares, transparent outside the middle square.",
         shown(32, lambda x, y: pal2[px[y][x]], m))
    # 4 bit, 32 x 32: stripes of the 16 colours.
    px = grid(32, lambda x, y: (x // 2) % 16)
    case("pal4-32", icon([(32, 32, 16, 4, dib(32, 32, 4, px, m, PAL16))]), "ok",
         "4 bits per pixel, 32 x 32, vertical stripes of the 16 table colours, middle square opaque.",
         shown(32, lambda x, y: PAL16[px[y][x]], m))
    # 8 bit, 32 x 32, 256-colour table (colour count byte 0).
    pal256 = [(i, 255 - i, (i * 7) % 256) for i in range(256)]
    px = grid(32, lambda x, y: (x * 8 + y) % 256)
    case("pal8-32", icon([(32, 32, 0, 8, dib(32, 32, 8, px, m, pal256))]), "ok",
         "8 bits per pixel, 32 x 32, full 256-colour table; the directory's colour count reads 0.",
         shown(32, lambda x, y: pal256[px[y][x]], m))
    # 24 bit, 32 x 32.
    px = grid(32, lambda x, y: (x * 8, y * 8, 128))
    case("rgb24-32", icon([(32, 32, 0, 24, dib(32, 32, 24, px, m, ()))]), "ok",
         "24 bits per pixel, 32 x 32, a red/green gradient; the AND mask makes the border transparent.",
         shown(32, lambda x, y: px[y][x], m))
    # 32 bit with alpha: alpha decides, the mask is all opaque.
    px = grid(32, lambda x, y: (200, 50, 25, 255 if x < 16 else (0 if y < 16 else 128)))
    none = grid(32, lambda x, y: 0)
    case("argb32-32", icon([(32, 32, 0, 32, dib(32, 32, 32, px, none, ()))]), "ok",
         "32 bits per pixel with alpha: left half opaque, top right transparent, bottom right half "
         "transparent; the AND mask is all 0, so only the alpha hides pixels.",
         grid(32, lambda x, y: px[y][x]))
    # 16 x 16 only: drawn at 32 x 32 by pixel repetition.
    px16 = grid(16, lambda x, y: (x + y) % 16)
    m16 = ring_mask(16)
    case("pal4-16-only", icon([(16, 16, 16, 4, dib(16, 16, 4, px16, m16, PAL16))]), "ok",
         "Only a 16 x 16 image: the icon is still 32 x 32, each pixel doubled.",
         shown(16, lambda x, y: PAL16[px16[y][x]], m16))
    # PNG entry.
    rgba = grid(32, lambda x, y: (x * 8, 255 - y * 8, 60, 255 if (x + y) % 3 else 0))
    case("png-32", icon([(32, 32, 0, 32, png(32, 32, rgba))]), "ok",
         "A PNG-compressed 32 x 32 RGBA entry (zlib, one IDAT); every third diagonal transparent.",
         rgba)
    # A 64 x 64 PNG entry in four solid quadrants: shrunk to 32 x 32.
    quad = grid(64, lambda x, y: ((255, 0, 0, 255) if x < 32 else (0, 0, 255, 255)) if y < 32
                else ((0, 160, 0, 255) if x < 32 else (0, 0, 0, 0)))
    case("png-64", icon([(64, 64, 0, 32, png(64, 64, quad))]), "ok",
         "A 64 x 64 PNG entry in four solid quadrants (the last transparent): the icon is 32 x 32, "
         "each quadrant 16 x 16.", grid(32, lambda x, y: quad[2 * y][2 * x]))
    # Several entries: the choice follows the display's colour count.
    e_mono = (32, 32, 2, 1, dib(32, 32, 1, grid(32, lambda x, y: 1), none, pal2))
    e_16 = (32, 32, 16, 4, dib(32, 32, 4, grid(32, lambda x, y: 9), none, PAL16))
    e_24 = (32, 32, 0, 24, dib(32, 32, 24, grid(32, lambda x, y: (0, 0, 255)), none, ()))
    case("choice-2-16-0", icon([e_mono, e_16, e_24]), "ok",
         "Three entries: 2 colours (white), 16 colours (red), colour count 0 at 24 bits (blue). A "
         "24-bit display takes the blue one, a 16-colour display the red one, a 256-colour display "
         "the red one too (first fitting entry 2, replaced by 16, which exceeds it).",
         grid(32, lambda x, y: (0, 0, 255, 255)))
    # Hostile and damaged files.
    px = grid(32, lambda x, y: (x // 4 + y // 4) % 2)
    case("cursor", icon([(32, 32, 2, 1, dib(32, 32, 1, px, m, pal2))], kind=2), "cursor",
         "A cursor (type 2) named .ico: refused at load with the icon message.")
    case("short-header", b"\0\0\1", "short", "Three bytes: the 6-byte header cannot be read whole.")
    case("count-past-end", icon([(32, 32, 2, 1, dib(32, 32, 1, px, m, pal2))], count=500)[:200],
         "damaged", "The header claims 500 entries; the file ends inside the second: loads, fails at the first draw.")
    case("count-0", icon([], count=0), "damaged", "An icon with no entries: loads, fails at the first draw.")
    bad = bytearray(icon([(32, 32, 2, 1, dib(32, 32, 1, px, m, pal2))]))
    struct.pack_into("<I", bad, 6 + 12, 0x7FFFFFF0)
    case("offset-past-end", bytes(bad), "damaged",
         "The only entry's image offset lies far past the end of the file: fails at the first draw.")
    huge = icon([(0, 0, 0, 32, struct.pack("<IiiHHIIiiII", 40, 30000, 60000, 1, 32, 0, 0, 0, 0, 0, 0))])
    case("dib-huge", huge, "damaged",
         "An entry whose header claims 30000 x 30000 pixels with no pixel data: nothing is "
         "allocated on that word; fails at the first draw.")
    truncated = icon([(32, 32, 0, 24, dib(32, 32, 24, grid(32, lambda x, y: (1, 2, 3)), none, ())[:40 + 1000])])
    case("dib-truncated", truncated, "damaged",
         "A 24-bit entry cut inside its colour image: fails at the first draw.")
    bad_png = icon([(32, 32, 0, 32, png(32, 32, rgba)[:60])])
    case("png-truncated", bad_png, "damaged", "A PNG entry cut after its header: fails at the first draw.")
    with open(os.path.join(HERE, "cases.tsv"), "w") as f:
        f.write("# name\toutcome\tnote (written by make_corpus.py)\n")
        for name, outcome, note in CASES:
            f.write(f"{name}\t{outcome}\t{note}\n")


main()
