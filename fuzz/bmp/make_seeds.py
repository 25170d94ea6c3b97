#!/usr/bin/env python3
"""Writes the hand-made seeds of the BMP fuzz corpus (corpus/seed-*).

The crafted files of tests/data/bmp are replayed too; these seeds add what that corpus leaves
out and what the fuzzer should start from: RLE codes that break their own rules (a delta or a
run past the picture, an absolute run past the data, an escape cut off), indices past the
colour table, widths whose rows need every amount of padding, masks that are not the usual
ones, and the V4/V5 headers with their masks inside. The bytes are built with the byte
builders of tests/data/bmp/make_corpus.py.

Run it from anywhere: python3 fuzz/bmp/make_seeds.py
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "data", "bmp"))
from make_corpus import (BI_BITFIELDS, BI_RGB, BI_RLE4, BI_RLE8, Rle, assemble,  # noqa: E402
                         colour_table, index_grid, info_header, pack_rows, palette)

CORPUS = os.path.join(HERE, "corpus")


def seed(name, data):
    with open(os.path.join(CORPUS, "seed-" + name), "wb") as f:
        f.write(data)


def rle8(codes, w=10, h=6, colours=16):
    return assemble(info_header(w, h, 8, BI_RLE8, size_image=len(codes), colors_used=colours),
                    colour_table(palette(colours)), codes)


def rle4(codes, w=10, h=6):
    return assemble(info_header(w, h, 4, BI_RLE4, size_image=len(codes)),
                    colour_table(palette(16)), codes)


def main():
    for f in os.listdir(CORPUS):
        if f.startswith("seed-"):
            os.remove(os.path.join(CORPUS, f))

    # RLE codes that break their rules.
    seed("rle8-delta-past-bottom", rle8(bytes([3, 1, 0, 2, 5, 40, 2, 2, 0, 1])))
    seed("rle8-delta-past-right", rle8(bytes([3, 1, 0, 2, 200, 0, 2, 2, 0, 0, 0, 1])))
    seed("rle8-absolute-past-data", rle8(bytes([0, 40, 1, 2, 3, 4])))
    seed("rle8-escape-cut-off", rle8(bytes([4, 2, 0])))
    seed("rle8-delta-cut-off", rle8(bytes([4, 2, 0, 2, 1])))
    seed("rle8-index-past-table", rle8(bytes([5, 200, 0, 3, 15, 16, 255, 0, 0, 0, 1]),
                                       colours=16))
    seed("rle8-rows-past-height", rle8(bytes([2, 1, 0, 0] * 12 + [0, 1]), h=4))
    seed("rle4-absolute-past-data", rle4(bytes([0, 17, 0x12, 0x34])))
    seed("rle4-odd-runs", rle4(bytes([3, 0x12, 0, 3, 0x45, 0x60, 1, 0xF0, 0, 0, 7, 0xAB, 0, 1])))
    seed("rle4-delta-past-bottom", rle4(bytes([4, 0x11, 0, 2, 1, 9, 2, 0x22, 0, 1])))
    r = Rle(7, 3, False)
    r.run(2, 1); r.absolute([2, 3, 4]); r.eol(); r.delta(2, 1); r.run(9, 5); r.end()
    seed("rle8-clipped-run", rle8(bytes(r.out), w=7, h=3))

    # Every amount of row padding, in the depths with a colour table.
    for bits, width in ((1, 31), (1, 33), (4, 9), (8, 125), (8, 126), (8, 127)):
        colours = 1 << bits
        seed("pal%d-width-%d" % (bits, width),
             assemble(info_header(width, 3, bits), colour_table(palette(colours)),
                      pack_rows(index_grid(width, 3, colours), bits)))
    # Indices past a short table.
    seed("pal8-index-past-table",
         assemble(info_header(8, 2, 8, colors_used=3), colour_table(palette(3)),
                  pack_rows(index_grid(8, 2, 256), 8)))

    # Masks that are not 5-5-5, 5-6-5 or 8-8-8: 8-8-0 on 16 bits, masks overlapping, a mask
    # with a hole, and no masks at all.
    w, h = 5, 3
    px16 = pack_rows([[(x * 4099 + y * 257) & 0xFFFF for x in range(w)] for y in range(h)], 16)
    px32 = pack_rows([[(x * 0x01020304 + y * 0x10203) & 0xFFFFFFFF for x in range(w)]
                      for y in range(h)], 32)
    for name, bits, masks, px in (("rgb16-880", 16, (0xFF00, 0x00FF, 0), px16),
                                  ("rgb16-overlapping", 16, (0xFFFF, 0x0FF0, 0x00FF), px16),
                                  ("rgb32-mask-with-hole", 32, (0xF0F00000, 0xFF00, 0xFF), px32),
                                  ("rgb32-zero-masks", 32, (0, 0, 0), px32)):
        seed(name, assemble(info_header(w, h, bits, BI_BITFIELDS), b"", px,
                            masks=struct.pack("<III", *masks)))
    # V4 and V5 headers carrying their masks, with an alpha mask.
    for size in (108, 124):
        seed("hdr%d-rgb32-bitfields" % size,
             assemble(info_header(w, h, 32, BI_BITFIELDS, size=size,
                                  masks=(0xFF0000, 0xFF00, 0xFF), alpha_mask=0xFF000000),
                      b"", px32))
    # 32 bits with no compression but a colour table and a top-down order.
    seed("rgb32-top-down-with-table",
         assemble(info_header(w, -h, 32, BI_RGB, colors_used=2), colour_table(palette(2)),
                  px32))


if __name__ == "__main__":
    main()
