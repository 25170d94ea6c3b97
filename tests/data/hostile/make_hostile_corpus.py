#!/usr/bin/env python3
"""Writes the hostile picture files of this folder: tiny files whose headers claim huge
pictures, run-length data that skips almost everything, GIFs with huge or countless frames and
a JPEG with huge dimensions and a cut stream. Run it from anywhere; it writes beside itself.

Each file gets a .txt note saying how it was made and what it proves, and cases.tsv lists the
outcome expected of loading it and drawing it into a thumbnail (tests/picture/hostile_files_test.cpp):
"ok", or the error's kind and message.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
cases = []


def write(name, data, outcome, note):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, os.path.splitext(name)[0] + ".txt"), "w") as f:
        f.write(note + " Made by make_hostile_corpus.py.\n")
    cases.append((name, outcome, note))


def bmp(width, height, bits, pixels, compression=0, table=None, size_image=0):
    table = table if table is not None else ([0] * (1 << bits) if bits <= 8 else [])
    colour = b"".join(struct.pack("<I", c) for c in table)
    offset = 14 + 40 + len(colour)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, size_image,
                       2835, 2835, 0, 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + colour + pixels


# --- bitmaps ---------------------------------------------------------------------------------
write("bmp-16000x16000-32bit-16-bytes.bmp", bmp(16000, 16000, 32, bytes(range(16))), "ok",
      "A 70-byte bitmap claiming 16,000 x 16,000 pixels at 32 bits with 16 bytes of pixels. It "
      "loads and draws black but for its first pixels, without a gigabyte of pixels ever being "
      "allocated: only what the thumbnail samples is decoded.")
write("bmp-33554442x6-8bit.bmp",
      bmp(33554442, 6, 8, bytes((i * 7) & 255 for i in range(1209 - 54 - 1024)),
          table=[i * 0x010101 for i in range(256)]),
      "ok",
      "An 8-bit bitmap of 33,554,442 x 6 pixels in 1,209 bytes, found by fuzzing: its first "
      "draw on an 8-bit display (halftone) took over ten seconds. It loads and draws at once.")
skip = b"".join(b"\x00\x02\xff\xff" for _ in range(70))
write("bmp-rle8-deltas-skip-everything.bmp",
      bmp(16000, 16000, 8, b"\x05\x07" + skip + b"\x00\x01", compression=1,
          table=[i * 0x010101 for i in range(256)]),
      "ok",
      "RLE8, 16,000 x 16,000, five pixels and then deltas that skip to below the last row. "
      "It loads and draws (index 0 nearly everywhere) without the whole picture in memory.")
write("bmp-rle4-no-data.bmp", bmp(15000, 15000, 4, b"", compression=2), "ok",
      "RLE4, 15,000 x 15,000 with no run-length data at all: an all-index-0 picture.")
write("bmp-topdown-30000x8000-24bit-cut.bmp", bmp(30000, -8000, 24, b"\x80" * 100), "ok",
      "Top-down 24-bit bitmap of 30,000 x 8,000 whose pixel data stops after 100 bytes.")
write("bmp-65535x65535.bmp", bmp(65535, 65535, 24, b"\x00" * 16), "EOutOfResources\tメモリが足りません",
      "A bitmap of 65,535 x 65,535 pixels: more than the program accepts at all, refused "
      "when loaded.")


# --- GIF -------------------------------------------------------------------------------------
def gif(width, height, body, table=b"\x00\x00\x00\xff\xff\xff"):
    return b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) + table + body + b";"


def frame(width, height, data, left=0, top=0):
    return b"," + struct.pack("<HHHHB", left, top, width, height, 0) + data


ONE_PIXEL = b"\x02\x02\x44\x01\x00"  # code size 2: clear, 0, end
write("gif-20000x20000-empty-lzw.gif", gif(20000, 20000, frame(20000, 20000, b"\x02\x00")),
      "GIFException\tFailed to allocate memory for GIF DIB",
      "A 34-byte GIF whose one frame of 20,000 x 20,000 has an empty LZW stream. Its data can "
      "fill none of the 400 million pixels it claims, so it is refused before they are "
      "allocated.")
write("gif-2795x31835-cut.gif",
      gif(2795, 31835, frame(2795, 31835, b"\x08\x30" + bytes((i * 37) & 255 for i in range(48)))),
      "GIFException\tFailed to allocate memory for GIF DIB",
      "An 80-byte GIF with one 2,795 x 31,835 frame whose data is cut after 48 bytes, like "
      "the 97-byte file found by fuzzing whose dithering on an 8-bit display took over 15 "
      "seconds.")
write("gif-65535-screen-1x1-frame.gif", gif(65535, 65535, frame(1, 1, ONE_PIXEL)), "ok",
      "A logical screen of 65,535 x 65,535 with one real 1 x 1 frame: it loads, and the frame "
      "covers too little of the thumbnail to show.")
write("gif-3000-tiny-frames.gif",
      gif(4, 4, b"".join(b"\x21\xf9\x04\x00\x01\x00\x00\x00" + frame(1, 1, ONE_PIXEL, i % 4, i // 4 % 4)
                         for i in range(3000))),
      "ok", "Three thousand 1 x 1 frames with a delay of one hundredth each.")
write("gif-2000-large-empty-frames.gif",
      gif(1000, 1000, b"".join(frame(1000, 1000, b"\x02\x00") for _ in range(2000))),
      "GIFException\tFailed to allocate memory for GIF DIB",
      "Two thousand 1,000 x 1,000 frames, each with an empty LZW stream: 2 gigabytes of pixels "
      "claimed by 36 kilobytes. Only a few such frames are taken before the file is refused.")


# --- JPEG ------------------------------------------------------------------------------------
def huge_jpeg(width, height, keep):
    data = open(os.path.join(ROOT, "jpeg", "baseline-colour.jpg"), "rb").read()
    sof = data.index(b"\xff\xc0")
    data = data[:sof + 5] + struct.pack(">HH", height, width) + data[sof + 9:]
    sos = data.index(b"\xff\xda")
    return data[:sos + 2 + struct.unpack(">H", data[sos + 2:sos + 4])[0] + keep]


write("jpeg-30000x30000-cut.jpg", huge_jpeg(30000, 30000, 64), "ok",
      "A baseline JPEG whose frame header claims 30,000 x 30,000 pixels, with its scan cut "
      "after 64 bytes. It loads; its thumbnail is decoded at 1/8 from what data there is.")

with open(os.path.join(HERE, "cases.tsv"), "w") as f:
    f.write("# name\tkind\tmessage (written by make_hostile_corpus.py)\n")
    for name, outcome, _ in cases:
        f.write(f"{name}\t{outcome}\n")
