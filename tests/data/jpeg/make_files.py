#!/usr/bin/env python3
"""Makes the crafted JPEG files of this folder. Base pictures come from ImageMagick's
`convert` (any JPEG encoder would do); the damaged ones are byte edits of those.
Run from this folder: python3 make_files.py"""
import os
import struct
import subprocess


def convert(args, out):
    subprocess.run(["convert", *args, out], check=True)
    return open(out, "rb").read()


def marker(data, code):
    return data.index(bytes([0xFF, code]))


def write(name, data):
    open(name, "wb").write(data)


# A small colourful picture: a gradient with a disc, 32 x 24.
base = ["-size", "32x24", "gradient:red-blue", "-fill", "yellow",
        "-draw", "circle 16,12 16,4", "-strip", "-sampling-factor", "2x2",
        "-quality", "85"]
baseline = convert(base, "baseline-colour.jpg")
progressive = convert(base + ["-interlace", "JPEG"], "progressive-colour.jpg")
# A larger one, 256 x 192, for draws that need a bigger scale than the first.
convert(["-size", "256x192", "gradient:navy-orange", "-fill", "green",
         "-draw", "circle 90,100 90,40", "-fill", "white", "-draw", "rectangle 150,20 230,80",
         "-strip", "-quality", "80"], "medium-colour.jpg")
convert(["-size", "24x16", "gradient:white-black", "-strip", "-colorspace", "Gray",
         "-quality", "85"], "grayscale.jpg")
convert(["-size", "16x16", "xc:orange", "-strip", "-colorspace", "CMYK",
         "-quality", "85"], "cmyk.jpg")

# Cut halfway through the entropy-coded data.
sos = marker(baseline, 0xDA)
write("truncated-scan.jpg", baseline[: sos + (len(baseline) - sos) // 2])

write("empty.jpg", b"")
write("not-a-jpeg.jpg", b"This is a text file with a .jpg name.\n")

# Frame header rewritten to claim 65500 x 65500.
sof = marker(baseline, 0xC0)
huge = bytearray(baseline)
huge[sof + 5:sof + 9] = bytes([0xFF, 0xDC, 0xFF, 0xDC])
write("huge-dimensions.jpg", bytes(huge))

# Frame header with width 0.
zero = bytearray(baseline)
zero[sof + 7:sof + 9] = b"\x00\x00"
write("zero-width.jpg", bytes(zero))

# The last scan of the progressive file repeated 300 times.
last = progressive.rindex(bytes([0xFF, 0xDA]))
scan = progressive[last:-2]
write("many-scans.jpg", progressive[:-2] + scan * 300 + b"\xff\xd9")

# An APP1 segment whose length runs far past the end of the file.
write("segment-past-end.jpg", b"\xff\xd8\xff\xe1\xff\xffExif\x00\x00")

# The medium picture as a camera would write it: an Exif segment (little-endian TIFF) whose
# second directory holds a 32 x 24 JPEG thumbnail of it, and the pixel size 256 x 192.
medium = open("medium-colour.jpg", "rb").read()
thumb = convert(["medium-colour.jpg", "-resize", "32x24!", "-strip", "-quality", "75"],
                "thumbnail.tmp.jpg")
os.remove("thumbnail.tmp.jpg")


def entry(tag, kind, value):
    packed = struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
    return struct.pack("<HHI", tag, kind, 1) + packed


first, exif = 8, 8 + 2 + 12 + 4
second = exif + 2 + 24 + 4
data = second + 2 + 36 + 4
tiff = (b"II" + struct.pack("<HI", 42, first)
        + struct.pack("<H", 1) + entry(0x8769, 4, exif) + struct.pack("<I", second)
        + struct.pack("<H", 2) + entry(0xA002, 4, 256) + entry(0xA003, 3, 192)
        + struct.pack("<I", 0)
        + struct.pack("<H", 3) + entry(0x0103, 3, 6) + entry(0x0201, 4, data)
        + entry(0x0202, 4, len(thumb)) + struct.pack("<I", 0) + thumb)
app1 = b"\xff\xe1" + struct.pack(">H", 2 + 6 + len(tiff)) + b"Exif\x00\x00" + tiff
write("exif-thumbnail.jpg", medium[:2] + app1 + medium[2:])
