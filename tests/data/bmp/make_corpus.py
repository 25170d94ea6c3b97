#!/usr/bin/env python3
"""Writes the crafted bitmap corpus of this folder.

Every file is assembled byte by byte with struct from the published BMP layout (file header,
BITMAPCOREHEADER / BITMAPINFOHEADER / V2..V5 headers, colour table, pixel rows or RLE codes).
No imaging library is used. For each file the script also writes:

  <name>.txt           how the file was made and what it proves
  expected/<name>.ppm  for files that decode to a picture: the picture the file describes, as
                       this script intends it (binary PPM, computed from the logical pixels,
                       not by decoding the bytes)
  cases.tsv            name, outcome (ok, empty, invalid, truncated, too-large), note

Run it from anywhere: python3 tests/data/bmp/make_corpus.py
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
EXPECTED = os.path.join(HERE, "expected")
CASES = []

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3


# ---------------------------------------------------------------- byte builders

def file_header(total_size, pixel_offset, magic=b"BM"):
    return magic + struct.pack("<IHHI", total_size, 0, 0, pixel_offset)


def core_header(width, height, bit_count, planes=1):
    return struct.pack("<IHHHH", 12, width, height, planes, bit_count)


def info_header(width, height, bit_count, compression=BI_RGB, size_image=0, colors_used=0,
                planes=1, size=40, masks=(0, 0, 0), alpha_mask=0):
    h = struct.pack("<IiiHHIIiiII", size, width, height, planes, bit_count, compression,
                    size_image, 2835, 2835, colors_used, 0)
    if size >= 52:
        h += struct.pack("<III", *masks)
    if size >= 56:
        h += struct.pack("<I", alpha_mask)
    if size >= 108:
        h += struct.pack("<I", 0x73524742)  # colour space 'sRGB'
        h += bytes(36 + 12)  # end points and gammas, unused with sRGB
    if size >= 124:
        h += struct.pack("<IIII", 4, 0, 0, 0)  # intent, profile data, profile size, reserved
    return h + bytes(max(0, size - len(h)))


def colour_table(colours, entry_size=4):
    out = b""
    for r, g, b in colours:
        out += bytes([b, g, r]) + (b"\0" if entry_size == 4 else b"")
    return out


def stride(width, bit_count):
    return (width * bit_count + 31) // 32 * 4


def pack_rows(rows, bit_count, top_down=False):
    """rows: list of lists of integers (indices or packed pixel values), top row first."""
    out = b""
    order = rows if top_down else list(reversed(rows))
    for row in order:
        line = bytearray()
        if bit_count < 8:
            per = 8 // bit_count
            for i in range(0, len(row), per):
                byte = 0
                for j, v in enumerate(row[i:i + per]):
                    byte |= v << (8 - bit_count * (j + 1))
                line.append(byte)
        else:
            n = bit_count // 8
            for v in row:
                line += v.to_bytes(n, "little")
        line += bytes(stride(len(row), bit_count) - len(line))
        out += line
    return out


def assemble(info, table=b"", pixels=b"", masks=b"", gap=b"", offset=None, magic=b"BM"):
    head_len = 14 + len(info) + len(masks) + len(table)
    if offset is None:
        offset = head_len + len(gap)
    total = head_len + len(gap) + len(pixels)
    return file_header(total, offset, magic) + info + masks + table + gap + pixels


# ---------------------------------------------------------------- pictures

def palette(n, seed=0):
    """n distinct colours, none of them black, so a wrong index shows."""
    out = []
    for i in range(n):
        k = i + seed
        out.append(((40 + 53 * k) % 256, (90 + 101 * k) % 256, (200 + 37 * k) % 256 or 1))
    return out


def index_grid(width, height, colours):
    return [[(x * 3 + y * 5 + x * y) % colours for x in range(width)] for y in range(height)]


def rgb_grid(width, height):
    return [[((x * 37 + y * 11) % 256, (x * 13 + y * 71) % 256, (x * 91 + y * 29 + 7) % 256)
             for x in range(width)] for y in range(height)]


def scale(v, bits):
    m = (1 << bits) - 1
    return (v * 255 + m // 2) // m


def indexed_picture(grid, table):
    return [[table[i] if i < len(table) else (0, 0, 0) for i in row] for row in grid]


# ---------------------------------------------------------------- writing

def write_ppm(name, picture):
    height, width = len(picture), len(picture[0])
    data = b"".join(bytes(p) for row in picture for p in row)
    with open(os.path.join(EXPECTED, name + ".ppm"), "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) + data)


def write_pbm(name, mask):
    """The pixels the RLE codes set (1) and those they skip (0), as a plain PBM. There 1
    means black, so a viewer shows the written pixels dark."""
    with open(os.path.join(EXPECTED, name + ".written.pbm"), "w") as f:
        f.write("P1\n%d %d\n" % (len(mask[0]), len(mask)))
        for row in mask:
            f.write(" ".join(str(v) for v in row) + "\n")


def case(name, data, outcome, note, picture=None, written=None):
    with open(os.path.join(HERE, name + ".bmp"), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, name + ".txt"), "w", encoding="utf-8") as f:
        f.write("Made by make_corpus.py (hand-assembled bytes, %d in all). %s Expected: %s.\n"
                % (len(data), note, outcome))
    if outcome == "ok":
        write_ppm(name, picture)
    if written is not None:
        write_pbm(name, written)
    CASES.append((name, outcome, note))


# ---------------------------------------------------------------- the cases

def depths():
    w, h = 13, 5  # odd width: every depth needs row padding
    for bits, ncol in ((1, 2), (4, 16), (8, 256)):
        table = palette(ncol)
        grid = index_grid(w, h, ncol)
        case("pal%d" % bits,
             assemble(info_header(w, h, bits), colour_table(table), pack_rows(grid, bits)),
             "ok", "%d bits per pixel, 40-byte header, full colour table, rows padded to 32 bits."
             % bits, indexed_picture(grid, table))

    table = palette(20, 3)
    grid = index_grid(w, h, 24)  # indices 20..23 lie past the 20-entry table
    case("pal8-colorsused20",
         assemble(info_header(w, h, 8, colors_used=20), colour_table(table), pack_rows(grid, 8)),
         "ok", "8 bits with a 20-entry table (colours-used 20); indices past the table show black.",
         indexed_picture(grid, table))

    pic = rgb_grid(w, h)
    raw555 = [[(r >> 3) << 10 | (g >> 3) << 5 | b >> 3 for r, g, b in row] for row in pic]
    want555 = [[(scale(v >> 10 & 31, 5), scale(v >> 5 & 31, 5), scale(v & 31, 5)) for v in row]
               for row in raw555]
    case("rgb16-555", assemble(info_header(w, h, 16), b"", pack_rows(raw555, 16)), "ok",
         "16 bits, BI_RGB: the implied 5-5-5 layout; channels scaled to 0..255 with rounding.",
         want555)
    case("rgb16-555-bitfields",
         assemble(info_header(w, h, 16, BI_BITFIELDS), b"", pack_rows(raw555, 16),
                  masks=struct.pack("<III", 0x7C00, 0x03E0, 0x001F)),
         "ok", "16 bits, BI_BITFIELDS with explicit 5-5-5 masks after the 40-byte header.", want555)
    raw565 = [[(r >> 3) << 11 | (g >> 2) << 5 | b >> 3 for r, g, b in row] for row in pic]
    want565 = [[(scale(v >> 11 & 31, 5), scale(v >> 5 & 63, 6), scale(v & 31, 5)) for v in row]
               for row in raw565]
    masks565 = (0xF800, 0x07E0, 0x001F)
    case("rgb16-565",
         assemble(info_header(w, h, 16, BI_BITFIELDS), b"", pack_rows(raw565, 16),
                  masks=struct.pack("<III", *masks565)),
         "ok", "16 bits, BI_BITFIELDS 5-6-5 masks after the 40-byte header.", want565)

    raw24 = [[b | g << 8 | r << 16 for r, g, b in row] for row in pic]
    case("rgb24", assemble(info_header(w, h, 24), b"", pack_rows(raw24, 24)), "ok",
         "24 bits, BGR byte order, 13 * 3 = 39 bytes per row padded to 40.", pic)
    raw32 = [[b | g << 8 | r << 16 | ((x * 17) & 255) << 24 for x, (r, g, b) in enumerate(row)]
             for row in pic]
    case("rgb32", assemble(info_header(w, h, 32), b"", pack_rows(raw32, 32)), "ok",
         "32 bits, BI_RGB, with varying values in the unused fourth byte: they are not alpha, "
         "the picture is opaque.", pic)
    rawbf = [[b << 24 | g << 16 | r << 8 | 0x5A for r, g, b in row] for row in pic]
    case("rgb32-bitfields",
         assemble(info_header(w, h, 32, BI_BITFIELDS), b"", pack_rows(rawbf, 32),
                  masks=struct.pack("<III", 0x0000FF00, 0x00FF0000, 0xFF000000)),
         "ok", "32 bits, BI_BITFIELDS with masks in an unusual order (red in the second byte, "
         "blue in the top byte): the masks are honoured.", pic)
    table = palette(2, 9)
    case("rgb24-with-table",
         assemble(info_header(w, h, 24, colors_used=2), colour_table(table),
                  pack_rows(raw24, 24)),
         "ok", "24 bits carrying a 2-entry colour table: the table is skipped before the pixels "
         "and kept as the picture's palette.", pic)


def header_kinds():
    w, h = 6, 4
    table = palette(16, 5)
    grid = index_grid(w, h, 16)
    want = indexed_picture(grid, table)
    pixels = pack_rows(grid, 4)
    case("os2-pal4", assemble(core_header(w, h, 4), colour_table(table, 3), pixels), "ok",
         "OS/2 12-byte core header with 16-bit fields and 3-byte colour entries; the same "
         "picture as win-pal4.bmp.", want)
    case("win-pal4", assemble(info_header(w, h, 4), colour_table(table), pixels), "ok",
         "The Windows twin of os2-pal4.bmp (40-byte header, 4-byte entries).", want)
    table8 = palette(256, 1)
    grid8 = index_grid(w, h, 256)
    case("os2-pal8", assemble(core_header(w, h, 8), colour_table(table8, 3),
                              pack_rows(grid8, 8)), "ok",
         "OS/2 core header, 8 bits, 256 three-byte entries.", indexed_picture(grid8, table8))
    pic = rgb_grid(w, h)
    raw24 = [[b | g << 8 | r << 16 for r, g, b in row] for row in pic]
    case("os2-rgb24", assemble(core_header(w, h, 24), b"", pack_rows(raw24, 24)), "ok",
         "OS/2 core header, 24 bits, no colour table.", pic)

    raw565 = [[(r >> 3) << 11 | (g >> 2) << 5 | b >> 3 for r, g, b in row] for row in pic]
    want565 = [[(scale(v >> 11 & 31, 5), scale(v >> 5 & 63, 6), scale(v & 31, 5)) for v in row]
               for row in raw565]
    masks565 = (0xF800, 0x07E0, 0x001F)
    for size in (52, 56, 108, 124):
        case("hdr%d-rgb16-565" % size,
             assemble(info_header(w, h, 16, BI_BITFIELDS, size=size, masks=masks565),
                      b"", pack_rows(raw565, 16)),
             "ok", "%d-byte info header read whole, 5-6-5 masks inside the header (no masks "
             "follow it)." % size, want565)
    for size in (52, 56, 108, 124):
        case("hdr%d-pal8" % size,
             assemble(info_header(w, h, 8, size=size), colour_table(table8),
                      pack_rows(grid8, 8)),
             "ok", "%d-byte info header with 8-bit pixels: the colour table starts after "
             "the whole header." % size, indexed_picture(grid8, table8))
    masks32 = (0x00FF0000, 0x0000FF00, 0x000000FF)
    raw32 = [[b | g << 8 | r << 16 | 0x80 << 24 for r, g, b in row] for row in pic]
    case("hdr124-rgb32-alpha",
         assemble(info_header(w, h, 32, BI_BITFIELDS, size=124, masks=masks32,
                              alpha_mask=0xFF000000), b"", pack_rows(raw32, 32)),
         "ok", "124-byte (V5) header, 32 bits with an alpha mask and half alpha: drawn opaque, "
         "the alpha channel is not used.", pic)


def top_down():
    w, h = 7, 5
    table = palette(256, 2)
    grid = index_grid(w, h, 256)
    case("topdown-pal8",
         assemble(info_header(w, -h, 8), colour_table(table), pack_rows(grid, 8, top_down=True)),
         "ok", "Negative height: rows stored top row first.", indexed_picture(grid, table))
    pic = rgb_grid(w, h)
    raw24 = [[b | g << 8 | r << 16 for r, g, b in row] for row in pic]
    case("topdown-rgb24",
         assemble(info_header(w, -h, 24), b"", pack_rows(raw24, 24, top_down=True)),
         "ok", "Negative height with 24 bits.", pic)


class Rle:
    """Writes RLE codes and, beside them, applies them to an index grid the way the format
    describes: rows from the bottom, runs clipped at the right edge, unwritten pixels 0."""

    def __init__(self, width, height, four):
        self.w, self.h, self.four = width, height, four
        self.grid = [[0] * width for _ in range(height)]
        self.written = [[0] * width for _ in range(height)]
        self.x = self.y = 0
        self.out = bytearray()

    def _put(self, v):
        if self.x < self.w and self.y < self.h:
            self.grid[self.h - 1 - self.y][self.x] = v
            self.written[self.h - 1 - self.y][self.x] = 1
        self.x += 1

    def run(self, count, value):
        self.out += bytes([count, value])
        for n in range(count):
            if self.four:
                self._put(value >> 4 if n % 2 == 0 else value & 15)
            else:
                self._put(value)

    def absolute(self, values):
        n = len(values)
        assert n >= 3
        if self.four:
            data = bytes((values[i] << 4) | (values[i + 1] if i + 1 < n else 0)
                         for i in range(0, n, 2))
        else:
            data = bytes(values)
        self.out += bytes([0, n]) + data + (b"\0" if len(data) % 2 else b"")
        for v in values:
            self._put(v)

    def eol(self):
        self.out += b"\0\0"
        self.x, self.y = 0, self.y + 1

    def delta(self, dx, dy):
        self.out += bytes([0, 2, dx, dy])
        self.x, self.y = min(self.x + dx, self.w), self.y + dy

    def end(self):
        self.out += b"\0\1"


def rle():
    w, h = 10, 6
    table = palette(256, 4)
    r = Rle(w, h, False)
    r.run(4, 7); r.absolute([1, 2, 3]); r.run(3, 9); r.eol()      # odd absolute run (padded)
    r.absolute([10, 11, 12, 13]); r.delta(2, 1); r.run(2, 40); r.eol()  # delta right and up
    r.run(10, 50); r.eol()                                          # a row filled by one run
    r.delta(3, 0); r.run(2, 60); r.run(5, 61); r.eol()
    r.end()
    case("rle8", assemble(info_header(w, h, 8, BI_RLE8, size_image=len(r.out)),
                          colour_table(table), bytes(r.out)),
         "ok", "RLE8: encoded runs, odd and even absolute runs (padded to 16 bits), deltas, "
         "end of line, end of bitmap; the skipped pixels keep index 0.",
         indexed_picture(r.grid, table), r.written)

    r = Rle(w, h, False)
    r.run(6, 1); r.run(9, 2); r.eol()           # encoded run past the right edge
    r.run(8, 3); r.absolute([4, 5, 6, 7]); r.eol()  # absolute run past the right edge
    r.run(10, 8); r.eol()
    r.end()
    case("rle8-run-past-edge",
         assemble(info_header(w, h, 8, BI_RLE8, size_image=len(r.out)), colour_table(table),
                  bytes(r.out)),
         "ok", "RLE8 with an encoded run and an absolute run that go past the right edge: "
         "they are clipped there and do not spill into the next row.",
         indexed_picture(r.grid, table), r.written)

    table4 = palette(16, 6)
    r = Rle(w, h, True)
    r.run(5, 0x12); r.absolute([3, 4, 5, 6, 7]); r.eol()  # 5 nibbles: 3 bytes + pad
    r.absolute([7, 8, 9, 10, 11, 12, 13]); r.delta(1, 2); r.run(3, 0xEF); r.eol()
    r.run(10, 0x5A); r.eol()
    r.end()
    case("rle4", assemble(info_header(w, h, 4, BI_RLE4, size_image=len(r.out)),
                          colour_table(table4), bytes(r.out)),
         "ok", "RLE4: runs alternating two nibbles, odd-length absolute runs (5 and 7 "
         "nibbles, 3 bytes padded to 4 and 4 bytes), a delta that skips two rows, end of line and end of "
         "bitmap.", indexed_picture(r.grid, table4), r.written)

    r = Rle(w, h, False)
    for y in range(h):
        r.absolute([(x * 7 + y) % 256 for x in range(w)])
        r.eol()
    r.end()
    case("rle8-sizeimage0",
         assemble(info_header(w, h, 8, BI_RLE8, size_image=0), colour_table(table), bytes(r.out)),
         "ok", "RLE8 made only of absolute runs, so the codes (%d bytes) are longer than the "
         "unpacked rows (%d bytes), with image size 0: the codes are read to the end of the "
         "file, not cut to the unpacked size." % (len(r.out), stride(w, 8) * h),
         indexed_picture(r.grid, table), r.written)

    r = Rle(w, h, False)
    r.run(6, 3); r.eol(); r.run(4, 5)
    codes = bytes(r.out)  # stops without end of line or end of bitmap
    case("rle8-no-end", assemble(info_header(w, h, 8, BI_RLE8, size_image=len(codes)),
                                 colour_table(table), codes),
         "ok", "RLE8 whose codes stop in the second row without end-of-bitmap: the rows "
         "written so far show, the rest keeps index 0.", indexed_picture(r.grid, table), r.written)


def truncation():
    w, h = 9, 6
    pic = rgb_grid(w, h)
    raw24 = [[b | g << 8 | r << 16 for r, g, b in row] for row in pic]
    pixels = pack_rows(raw24, 24)
    keep = stride(w, 24) * 2 + 10  # two whole bottom rows and 10 bytes (3 pixels) of the third
    want = [[(0, 0, 0)] * w for _ in range(h)]
    for y in range(2):
        want[h - 1 - y] = pic[h - 1 - y]
    want[h - 3][:3] = pic[h - 3][:3]
    info = info_header(w, h, 24)
    case("truncated-pixels-rgb24", assemble(info, b"", pixels)[:14 + 40 + keep], "ok",
         "24-bit file cut after two rows and 10 bytes of the third (the file header's size "
         "still claims all): the bytes present load, the rest is black.", want)

    table = palette(16, 7)
    grid = index_grid(w, h, 16)
    px = pack_rows(grid, 4)
    keep = stride(w, 4) + 3  # one row and 6 pixels
    full = indexed_picture(grid, table)
    want = [[table[0]] * w for _ in range(h)]
    want[h - 1] = full[h - 1]
    want[h - 2][:6] = full[h - 2][:6]
    case("truncated-pixels-pal4",
         assemble(info_header(w, h, 4), colour_table(table), px)[:14 + 40 + 64 + keep], "ok",
         "4-bit file cut after one row and 3 bytes: missing pixels keep index 0 (first "
         "table colour).", want)

    big = info_header(w, h, 24, size_image=100000)
    case("sizeimage-too-big", assemble(big, b"", pixels), "ok",
         "Image size field far larger than the file: the pixel data is cut to what the file "
         "holds.", pic)

    full_file = assemble(info_header(w, h, 8), colour_table(palette(256)), b"")
    case("truncated-file-header", full_file[:10], "truncated",
         "Ten bytes: the 14-byte file header is incomplete.")
    case("truncated-size-field", full_file[:16], "truncated",
         "The file header and two bytes of the info-header size.")
    case("truncated-info-header", full_file[:14 + 30], "truncated",
         "A 40-byte info header of which 30 bytes are present.")
    os2 = assemble(core_header(w, h, 8), colour_table(palette(256), 3), b"")
    case("truncated-os2-header", os2[:14 + 9], "truncated",
         "An OS/2 12-byte core header of which 9 bytes are present.")
    case("truncated-colour-table", full_file[:14 + 40 + 4 * 100 + 2], "truncated",
         "8 bits, 256 colours expected, 100.5 entries present.")
    case("truncated-os2-colour-table", os2[:14 + 12 + 3 * 200 + 1], "truncated",
         "OS/2 8 bits: 256 three-byte entries expected, 200 and one byte present.")
    bf = assemble(info_header(w, h, 16, BI_BITFIELDS), b"", b"",
                  masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F))
    case("truncated-bitfield-masks", bf[:14 + 40 + 7], "truncated",
         "16-bit BI_BITFIELDS with a 40-byte header and only 7 of the 12 mask bytes.")
    v5 = assemble(info_header(w, h, 24, size=124), b"", b"")
    case("truncated-v5-header", v5[:14 + 100], "truncated",
         "124-byte header of which 100 bytes are present: the whole header must be read.")
    case("empty", b"", "empty", "A file of 0 bytes: an empty picture, no error.")


def invalid():
    w, h = 4, 4
    table = palette(256)
    px = pack_rows(index_grid(w, h, 256), 8)

    def pal8(**kw):
        return assemble(info_header(w, h, 8, **kw), colour_table(table), px)

    case("not-bm", assemble(info_header(w, h, 8), colour_table(table), px, magic=b"MB"),
         "invalid", "First two bytes 'MB' instead of 'BM'.")
    case("planes-0", pal8(planes=0), "invalid", "Planes field 0.")
    case("planes-2", pal8(planes=2), "invalid", "Planes field 2.")
    case("os2-planes-3", assemble(core_header(w, h, 8, planes=3), colour_table(table, 3), px),
         "invalid", "OS/2 core header with planes 3.")
    case("width-0", assemble(info_header(0, h, 24), b"", b"\0" * 16), "invalid", "Width 0.")
    case("width-negative", assemble(info_header(-4, h, 24), b"", b"\0" * 64), "invalid",
         "Width -4.")
    case("height-0", assemble(info_header(w, 0, 24), b"", b"\0" * 16), "invalid", "Height 0.")
    case("height-int-min", assemble(info_header(w, -0x80000000, 24), b"", b"\0" * 16),
         "invalid", "Height -2^31, whose magnitude does not fit a 32-bit integer.")
    case("bitcount-7", pal8()[:28] + struct.pack("<H", 7) + pal8()[30:], "invalid",
         "Bit count 7 (a pal8 file with the bit-count field changed).")
    case("bitcount-2", assemble(info_header(w, h, 2), colour_table(palette(4)), b"\0" * 16),
         "invalid", "Bit count 2, which Windows desktop bitmaps do not have.")
    case("compression-jpeg", pal8(compression=4), "invalid", "Compression 4 (embedded JPEG).")
    case("rle8-with-4-bits",
         assemble(info_header(w, h, 4, BI_RLE8), colour_table(palette(16)), b"\0\1"),
         "invalid", "RLE8 compression with 4 bits per pixel.")
    case("rle8-top-down",
         assemble(info_header(w, -h, 8, BI_RLE8), colour_table(table), b"\x04\x01\0\1"),
         "invalid", "RLE8 with a negative (top-down) height, which RLE does not allow.")
    case("bitfields-24",
         assemble(info_header(w, h, 24, BI_BITFIELDS), b"", b"\0" * 48,
                  masks=struct.pack("<III", 0xFF0000, 0xFF00, 0xFF)),
         "invalid", "BI_BITFIELDS with 24 bits per pixel.")
    case("header-size-2", file_header(40, 20) + struct.pack("<I", 2) + b"\0" * 20, "invalid",
         "Info-header size 2, smaller than its own size field: no usable header (planes "
         "reads as 0).")

    # Sizes: these must be refused before anything is allocated.
    case("huge-dimensions", assemble(info_header(100000, 100000, 24), b"", b"\0" * 64),
         "too-large", "100000 x 100000 pixels with 64 bytes of data: refused as too large, "
         "nothing allocated.")
    case("huge-width-height-max",
         assemble(info_header(0x7FFFFFFF, -0x7FFFFFFF, 32), b"", b"\0" * 64), "too-large",
         "Width and height 2^31-1 at 32 bits: every product overflows 32 and nearly 64-bit "
         "arithmetic done carelessly.")
    case("huge-width-1-row",
         assemble(info_header(0x7FFFFFFF, 1, 1), colour_table(palette(2)), b"\0" * 64),
         "too-large", "Width 2^31-1, one row, 1 bit: the row size alone is 256 MiB.")
    case("os2-huge", assemble(core_header(65535, 65535, 24), b"", b"\0" * 64), "too-large",
         "OS/2 header with the largest 16-bit width and height.")
    case("huge-colour-count", pal8(colors_used=0xFFFFFFFF), "truncated",
         "Colours-used 2^32-1: the colour table cannot be in the file (its byte size also "
         "overflows 32 bits).")
    case("colour-count-wraps", pal8(colors_used=0x40000001), "truncated",
         "Colours-used 2^30+1, whose table size in bytes wraps to 4 in 32-bit arithmetic.")
    case("header-size-huge", file_header(60, 54) + struct.pack("<I", 0xFFFFFFF0) + b"\0" * 40,
         "truncated", "Info-header size 2^32-16: the header cannot be read whole.")

    table300 = palette(300, 8)
    grid = index_grid(w, h, 256)
    case("colour-count-300",
         assemble(info_header(w, h, 8, colors_used=300), colour_table(table300),
                  pack_rows(grid, 8)),
         "ok", "8 bits with colours-used 300 and 300 entries present: the whole table is "
         "skipped, the first 256 entries are the palette.", indexed_picture(grid, table300))


def pixel_offset():
    w, h = 5, 3
    table = palette(16, 11)
    grid = index_grid(w, h, 16)
    px = pack_rows(grid, 4)
    info = info_header(w, h, 4)
    ctab = colour_table(table)
    want = indexed_picture(grid, table)
    head = 14 + 40 + 64
    case("offset-gap", assemble(info, ctab, px, gap=b"\xAB" * 22), "ok",
         "22 bytes of 0xAB between the colour table and the pixels, the file header's offset "
         "pointing past them: the offset is honoured.", want)
    case("offset-exact", assemble(info, ctab, px, offset=head), "ok",
         "Offset equal to the end of the colour table (the common case).", want)
    # The offsets below are not usable: the pixels follow the colour table at once.
    case("offset-past-end", assemble(info, ctab, px, offset=100000), "ok",
         "Offset 100000, past the end of the file: ignored, the pixels follow the colour "
         "table.", want)
    case("offset-at-end", assemble(info, ctab, px, offset=head + len(px)), "ok",
         "Offset equal to the file size: points at no byte, ignored.", want)
    case("offset-into-table", assemble(info, ctab, px, offset=head - 16), "ok",
         "Offset 16 bytes before the end of the colour table: ignored, the pixels follow the "
         "table.", want)
    case("offset-zero", assemble(info, ctab, px, offset=0), "ok",
         "Offset 0 (left unset by the writer): ignored.", want)
    bf = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    pic = rgb_grid(w, h)
    raw = [[(r >> 3) << 11 | (g >> 2) << 5 | b >> 3 for r, g, b in row] for row in pic]
    want565 = [[(scale(v >> 11 & 31, 5), scale(v >> 5 & 63, 6), scale(v & 31, 5)) for v in row]
               for row in raw]
    case("offset-gap-bitfields",
         assemble(info_header(w, h, 16, BI_BITFIELDS), b"", pack_rows(raw, 16), masks=bf,
                  gap=b"\xFF" * 6),
         "ok", "16-bit 5-6-5 with its masks after the 40-byte header, then a 6-byte gap: the "
         "offset counts the masks and is honoured.", want565)


def main():
    os.makedirs(EXPECTED, exist_ok=True)
    for f in os.listdir(HERE):
        if f.endswith((".bmp", ".txt")) or f == "cases.tsv":
            os.remove(os.path.join(HERE, f))
    for f in os.listdir(EXPECTED):
        os.remove(os.path.join(EXPECTED, f))
    depths()
    header_kinds()
    top_down()
    rle()
    truncation()
    invalid()
    pixel_offset()
    with open(os.path.join(HERE, "cases.tsv"), "w", encoding="utf-8") as f:
        f.write("# name\toutcome\tnote (written by make_corpus.py)\n")
        for name, outcome, note in CASES:
            f.write("%s\t%s\t%s\n" % (name, outcome, note))


if __name__ == "__main__":
    main()
