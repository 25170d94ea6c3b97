#!/usr/bin/env python3
"""Writes seed folders for folder_fuzz into corpus/, from the pictures of tests/data."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "tests", "data")
CORPUS = os.path.join(HERE, "corpus")


def entry(kind, name, content=b""):
    out = bytes([kind, len(name)]) + name
    if kind == 0:
        out += struct.pack("<H", len(content)) + content[:65535]
    return out


def read(*path):
    with open(os.path.join(DATA, *path), "rb") as f:
        return f.read()


seeds = {
    "mixed.folder": entry(0, b"a.bmp", read("bmp", "pal8.bmp")) + entry(1, b"b.jpg") +
    entry(2, b"c.bmp") + entry(3, b"d.bmp") + entry(0, b"e.gif", read("gif", "valid-animation.gif")) +
    entry(4, b"f.jpg") + entry(5, b"g.gif"),
    "hostile.folder": b"".join(entry(0, name.encode(), read("hostile", name)) for name in
                              ("bmp-16000x16000-32bit-16-bytes.bmp", "bmp-33554442x6-8bit.bmp",
                               "gif-20000x20000-empty-lzw.gif", "jpeg-30000x30000-cut.jpg")),
    "jpeg.folder": entry(0, b"p.jpg", read("jpeg", "baseline-colour.jpg")) + entry(3, b"q.jpeg"),
}
for name, data in seeds.items():
    with open(os.path.join(CORPUS, name), "wb") as f:
        f.write(data)
