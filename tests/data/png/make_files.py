#!/usr/bin/env python3
"""Makes the PNG and TIFF pictures of tests/data/png and tests/data/tiff with ImageMagick's
`convert`, and a .txt beside each saying what it is. The plug-in tests decode every one and
compare it with ImageMagick's own decode. Run from this folder: python3 make_files.py"""
import os
import struct
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TIFF = os.path.join(HERE, "..", "tiff")

# A colourful source: a gradient with a half-transparent disc, 37 x 23 (odd sizes, so rows
# need padding).
SOURCE = ["-size", "37x23", "gradient:red-blue", "(", "-size", "37x23", "xc:none", "-fill",
          "#30e06080", "-draw", "circle 18,11 18,2", ")", "-composite"]
OPAQUE = SOURCE + ["-alpha", "off"]


def make(folder, name, args, text):
    path = os.path.join(folder, name)
    subprocess.run(["convert", *args, path], check=True)
    with open(os.path.splitext(path)[0] + ".txt", "w") as f:
        f.write(text + "\nMade by tests/data/png/make_files.py with ImageMagick.\n")
    return path


def png(name, args, text, depth, colour_type):
    path = make(HERE, name, args + ["-define", "png:bit-depth=%d" % depth,
                                    "-define", "png:color-type=%d" % colour_type], text)
    data = open(path, "rb").read()
    got = (data[24], data[25])
    assert got == (depth, colour_type), (name, got)


png("grey-1.png", OPAQUE + ["-colorspace", "gray", "-threshold", "50%"],
    "Grey, 1 bit per sample.", 1, 0)
png("grey-2.png", OPAQUE + ["-colorspace", "gray", "-depth", "2"], "Grey, 2 bits.", 2, 0)
png("grey-4.png", OPAQUE + ["-colorspace", "gray", "-depth", "4"], "Grey, 4 bits.", 4, 0)
png("grey-8.png", OPAQUE + ["-colorspace", "gray"], "Grey, 8 bits.", 8, 0)
png("grey-16.png", OPAQUE + ["-colorspace", "gray", "-depth", "16"],
    "Grey, 16 bits: samples become round(v / 257).", 16, 0)
png("grey-alpha-8.png", SOURCE + ["-colorspace", "gray"],
    "Grey with alpha, 8 bits: composited over white.", 8, 4)
png("grey-alpha-16.png", SOURCE + ["-colorspace", "gray", "-depth", "16"],
    "Grey with alpha, 16 bits.", 16, 4)
png("rgb-8.png", OPAQUE, "Truecolour, 8 bits.", 8, 2)
png("rgb-16.png", OPAQUE + ["-depth", "16"], "Truecolour, 16 bits.", 16, 2)
png("rgba-8.png", SOURCE, "Truecolour with alpha, 8 bits: composited over white.", 8, 6)
png("rgba-16.png", SOURCE + ["-depth", "16"], "Truecolour with alpha, 16 bits.", 16, 6)
png("palette-8.png", OPAQUE + ["-colors", "200"], "Palette, 8 bits.", 8, 3)
png("palette-4.png", OPAQUE + ["-colors", "12"], "Palette, 4 bits.", 4, 3)
png("palette-trns.png", SOURCE + ["-colors", "60"],
    "Palette with a tRNS chunk (transparency per entry): composited over white.", 8, 3)
png("rgb-8-interlaced.png", OPAQUE + ["-interlace", "PNG"], "Truecolour, Adam7 interlaced.",
    8, 2)
png("palette-interlaced.png", OPAQUE + ["-colors", "16", "-interlace", "PNG"],
    "Palette, 4 bits, Adam7 interlaced.", 4, 3)
png("rgba-16-interlaced.png", SOURCE + ["-depth", "16", "-interlace", "PNG"],
    "Truecolour with alpha, 16 bits, Adam7 interlaced.", 16, 6)

# Damaged files: each must fail to decode, never crash.
good = open(os.path.join(HERE, "rgb-8.png"), "rb").read()
idat = good.index(b"IDAT")
with open(os.path.join(HERE, "bad-truncated.png"), "wb") as f:
    f.write(good[: idat + 40])
with open(os.path.join(HERE, "bad-truncated.txt"), "w") as f:
    f.write("rgb-8.png cut off inside its image data.\n")
bad = bytearray(good)
bad[20] ^= 0x01  # IHDR's height, the CRC no longer matches
with open(os.path.join(HERE, "bad-crc.png"), "wb") as f:
    f.write(bad)
with open(os.path.join(HERE, "bad-crc.txt"), "w") as f:
    f.write("rgb-8.png with one bit of its IHDR height flipped: the chunk's CRC is wrong.\n")


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def packed(width, height, depth, value):
    """Rows of width samples of depth bits, each row led by filter byte 0."""
    out = b""
    for y in range(height):
        bits, row = "", b"\0"
        for x in range(width):
            bits += format(value(x, y), "0%db" % depth)
        bits += "0" * (-len(bits) % 8)
        row += bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        out += row
    return out


def palette_png(name, depth, text, trns=None):
    width, height, count = 29, 13, 1 << depth
    plte = b"".join(bytes([(37 * i) % 256, (91 * i + 40) % 256, 255 - 60 * i % 256])
                    for i in range(count))
    body = (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 3, 0, 0, 0))
            + chunk(b"PLTE", plte) + (chunk(b"tRNS", trns) if trns else b"")
            + chunk(b"IDAT", zlib.compress(packed(width, height, depth,
                                                  lambda x, y: (x + 2 * y) % count)))
            + chunk(b"IEND", b""))
    open(os.path.join(HERE, name), "wb").write(body)
    with open(os.path.join(HERE, os.path.splitext(name)[0] + ".txt"), "w") as f:
        f.write(text + "\nWritten byte by byte by tests/data/png/make_files.py.\n")


palette_png("palette-1.png", 1, "Palette, 1 bit.")
palette_png("palette-2.png", 2, "Palette, 2 bits, with a tRNS chunk for two entries.",
            trns=bytes([0, 128]))

huge = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 65535, 65535, 8, 2, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(b"\0" * 100)) + chunk(b"IEND", b""))
with open(os.path.join(HERE, "bad-huge.png"), "wb") as f:
    f.write(huge)
with open(os.path.join(HERE, "bad-huge.txt"), "w") as f:
    f.write("A valid header claiming 65535 x 65535 pixels over 100 bytes of data: refused before "
            "anything is allocated.\n")

# TIFF: strips and tiles, the compressions libtiff reads, the photometric kinds.
def tiff(name, args, text):
    if "-depth" not in args:
        args = args + ["-depth", "8"]
    make(TIFF, name, args, text)


tiff("rgb-none.tif", OPAQUE + ["-compress", "None"], "RGB, 8 bits, uncompressed strips.")
tiff("rgb-packbits.tif", OPAQUE + ["-compress", "RLE"], "RGB, PackBits.")
tiff("rgb-lzw.tif", OPAQUE + ["-compress", "LZW"], "RGB, LZW.")
tiff("rgb-deflate.tif", OPAQUE + ["-compress", "Zip"], "RGB, Deflate.")
tiff("rgb-jpeg.tif", OPAQUE + ["-compress", "JPEG", "-quality", "95"],
     "RGB, JPEG compression (decoded by libtiff's libjpeg, so a step of rounding apart).")
tiff("rgb-tiles.tif", OPAQUE + ["-compress", "LZW", "-define", "tiff:tile-geometry=16x16"],
     "RGB in 16 x 16 tiles, LZW; the picture is not a whole number of tiles.")
tiff("rgb-16.tif", OPAQUE + ["-depth", "16", "-compress", "Zip"], "RGB, 16 bits, Deflate.")
tiff("rgba.tif", SOURCE + ["-compress", "LZW"],
     "RGB with unassociated alpha: composited over white.")
tiff("grey-8.tif", OPAQUE + ["-colorspace", "gray", "-compress", "LZW"], "Grey, 8 bits.")
tiff("grey-16.tif", OPAQUE + ["-colorspace", "gray", "-depth", "16", "-compress", "LZW"],
     "Grey, 16 bits (libtiff's RGBA interface may round these a step apart from round(v / 257)).")
tiff("bilevel.tif", OPAQUE + ["-colorspace", "gray", "-threshold", "50%", "-type", "Bilevel",
                             "-compress", "None"], "Bilevel, 1 bit.")
tiff("palette.tif", OPAQUE + ["-colors", "40", "-type", "Palette", "-compress", "LZW"],
     "Palette, 8 bits (libtiff takes the high byte of the 16-bit colour map entries).")
tiff("cmyk.tif", OPAQUE + ["-colorspace", "CMYK", "-compress", "LZW"],
     "CMYK, as libtiff's RGBA interface converts it (no colour profile).")
tiff("multipage.tif", ["(", *OPAQUE, ")", "(", "-size", "50x10", "xc:green", ")",
                       "-compress", "LZW"],
     "Two pages: the first one is shown.")
# Taller than the plug-in's bands of 64 rows, noisy so that every row differs.
TALL = ["-size", "37x203", "gradient:red-blue", "-attenuate", "0.5", "+noise", "Gaussian",
        "-alpha", "off"]
ONE_STRIP = ["-define", "tiff:rows-per-strip=203"]
tiff("tall-strip.tif", TALL + ["-compress", "LZW"] + ONE_STRIP,
     "37 x 203 in a single LZW strip: four bands read from one strip.")
tiff("tall-jpeg.tif", TALL + ["-compress", "JPEG", "-quality", "95"] + ONE_STRIP,
     "37 x 203 in a single JPEG strip.")
tiff("tall-bilevel.tif", TALL + ["-colorspace", "gray", "-threshold", "50%", "-type", "Bilevel",
                                 "-compress", "Group4"] + ONE_STRIP,
     "37 x 203 bilevel, CCITT Group 4, in one strip: rows of 37 bits.")
tiff("bottom-left.tif", TALL + ["-compress", "LZW", "-orient", "bottom-left",
                                "-define", "tiff:rows-per-strip=16"],
     "Rows stored from the bottom (orientation 4), strips of 16 rows: shown upside down from "
     "the file's order, which ImageMagick's raw decode keeps.")
tiff("bottom-left-tiles.tif", TALL + ["-compress", "LZW", "-orient", "bottom-left",
                                      "-define", "tiff:tile-geometry=16x16"],
     "Rows stored from the bottom, in 16 x 16 tiles.")
good = open(os.path.join(TIFF, "rgb-none.tif"), "rb").read()
with open(os.path.join(TIFF, "bad-truncated.tif"), "wb") as f:
    f.write(good[:300])
with open(os.path.join(TIFF, "bad-truncated.txt"), "w") as f:
    f.write("rgb-none.tif cut after 300 bytes: its directory lies beyond the end.\n")
