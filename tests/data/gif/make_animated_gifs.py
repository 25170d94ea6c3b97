#!/usr/bin/env python3
"""Writes a folder of small animated GIFs for looking at the animation by eye (and for the
folder tests): python3 make_animated_gifs.py OUT_FOLDER [COPIES].

  counter.gif    64 x 64, frames 1 to 4 shown as 1 to 4 white bars on a colour of their own,
                 half a second each, looping forever.
  once.gif       64 x 64, red for one second, then green for good (no loop extension).
  bouncing.gif   64 x 64, a blue square moving over transparent pixels with disposal 2, so that
                 the thumbnail's background shows around it; looping forever.
  restore.gif    64 x 64, a yellow field; every other frame puts a black dot on it with
                 disposal 3, so the dot blinks; looping three times.
COPIES (default 1) repeats the set under numbered names, for folders with many animations.
"""
import os
import struct
import sys

PALETTE = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 160, 0), (0, 0, 255), (255, 255, 0),
           (128, 0, 128), (0, 128, 128)]


def lzw_literal(pixels):
    """Codes of 9 bits (minimum code size 8), a clear code every 250 literals so the code width
    never grows."""
    out, acc, bits = bytearray(), 0, 0
    codes = [256]
    for i, p in enumerate(pixels):
        if i and i % 250 == 0:
            codes.append(256)
        codes.append(p)
    codes.append(257)
    for c in codes:
        acc |= c << bits
        bits += 9
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc & 0xFF)
    blocks = bytearray([8])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\0")


def gif(width, height, frames, loops=None):
    """frames: (left, top, w, h, pixels, delay, disposal, transparent index or None)."""
    table = b"".join(bytes(c) for c in PALETTE) + b"\0" * 3 * (256 - len(PALETTE))
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) + table
    if loops is not None:
        data += b"\x21\xFF\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", loops) + b"\0"
    for left, top, w, h, pixels, delay, disposal, transparent in frames:
        flags = (disposal << 2) | (1 if transparent is not None else 0)
        data += b"\x21\xF9\x04" + struct.pack("<BHB", flags, delay, transparent or 0) + b"\0"
        data += b"\x2C" + struct.pack("<HHHHB", left, top, w, h, 0) + lzw_literal(pixels)
    return data + b"\x3B"


def counter():
    frames = []
    for n in range(1, 5):
        px = [2 + n] * (64 * 64)
        for bar in range(n):
            for y in range(8, 56):
                for x in range(6 + bar * 14, 14 + bar * 14):
                    px[y * 64 + x] = 1
        frames.append((0, 0, 64, 64, px, 50, 1, None))
    return gif(64, 64, frames, loops=0)


def once():
    return gif(64, 64, [(0, 0, 64, 64, [2] * 4096, 100, 1, None),
                        (0, 0, 64, 64, [3] * 4096, 100, 1, None)])


def bouncing():
    frames = [(0, 0, 64, 64, [7] * 4096, 10, 2, 7)]  # all transparent, cleared after
    for step in range(8):
        frames.append((step * 6, step * 6, 16, 16, [4] * 256, 15, 2, None))
    return gif(64, 64, frames, loops=0)


def restore():
    frames = [(0, 0, 64, 64, [5] * 4096, 40, 1, None)]
    for _ in range(3):
        frames.append((24, 24, 16, 16, [0] * 256, 40, 3, None))
        frames.append((0, 0, 1, 1, [5], 40, 1, None))
    return gif(64, 64, frames, loops=3)


def main():
    folder = sys.argv[1]
    copies = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    os.makedirs(folder, exist_ok=True)
    files = {"counter": counter(), "once": once(), "bouncing": bouncing(), "restore": restore()}
    for i in range(copies):
        for name, data in files.items():
            suffix = "" if copies == 1 else "-%03d" % i
            with open(os.path.join(folder, name + suffix + ".gif"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
