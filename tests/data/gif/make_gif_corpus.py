#!/usr/bin/env python3
"""Writes the crafted GIF files of this folder. Run it from anywhere; it writes beside itself.

The encoder is a plain GIF LZW encoder (variable code width up to 12 bits, a clear code when
the table is full unless told to keep going without one). Each file has a .txt note beside it
that says what it proves; the expected outcomes live in tests/picture/gif/gif_corpus_test.cpp.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def write(self, code, width):
        self.acc |= code << self.n
        self.n += width
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def flush(self):
        if self.n:
            self.out.append(self.acc & 0xFF)
        self.acc = self.n = 0
        return bytes(self.out)


def lzw_encode(pixels, min_code_size, defer_clear=False, end_code=True, extra_codes=()):
    clear = 1 << min_code_size
    end = clear + 1
    bits = BitWriter()
    width = min_code_size + 1

    def reset():
        return {bytes([i]): i for i in range(min(clear, 256))}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    bits.write(clear, width)
    w = b""
    for p in pixels:
        wc = w + bytes([p])
        if wc in table:
            w = wc
            continue
        bits.write(table[w], width)
        if next_code < 4096:
            if next_code >= (1 << width) and width < 12:
                width += 1
            table[wc] = next_code
            next_code += 1
        elif not defer_clear:
            bits.write(clear, width)
            table, next_code, width = reset()
        w = bytes([p])
    if w:
        bits.write(table[w], width)
        # The decoder counts this code towards the width as it would define an entry.
        if next_code < 4096 and next_code >= (1 << width) and width < 12:
            width += 1
    for code in extra_codes:
        bits.write(code, width)
    if end_code:
        bits.write(end, width)
    return bits.flush()


def sub_blocks(data, size=255, terminator=True):
    out = bytearray()
    for i in range(0, len(data), size):
        chunk = data[i:i + size]
        out.append(len(chunk))
        out += chunk
    if terminator:
        out.append(0)
    return bytes(out)


def color_table(colors):
    """colors: list of (r, g, b); padded to the next power of two (at least 2)."""
    n = 2
    while n < len(colors):
        n *= 2
    bits = n.bit_length() - 2
    padded = list(colors) + [(0, 0, 0)] * (n - len(colors))
    return bits, b"".join(bytes(c) for c in padded)


def header(width, height, colors=None, signature=b"GIF89a", background=0):
    packed = 0
    table = b""
    if colors is not None:
        bits, table = color_table(colors)
        packed = 0x80 | (bits << 4) | bits
    return signature + struct.pack("<HHBBB", width, height, packed, background, 0) + table


def gce(transparent_index=None, delay=0, disposal=0):
    flags = (disposal << 2) | (1 if transparent_index is not None else 0)
    return b"\x21\xF9\x04" + struct.pack("<BHB", flags, delay, transparent_index or 0) + b"\x00"


def comment(text):
    return b"\x21\xFE" + sub_blocks(text)


def netscape(loops=0):
    return b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", loops) + b"\x00"


def image(left, top, width, height, pixels, colors=None, interlaced=False, min_code_size=None,
          data=None, block_size=255):
    packed = 0x40 if interlaced else 0
    table = b""
    if colors is not None:
        bits, table = color_table(colors)
        packed |= 0x80 | bits
    if min_code_size is None:
        min_code_size = max(2, (max(pixels) if pixels else 1).bit_length())
    if data is None:
        rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
        if interlaced:
            order = (list(range(0, height, 8)) + list(range(4, height, 8)) +
                     list(range(2, height, 4)) + list(range(1, height, 2)))
            rows = [rows[y] for y in order]
        data = sub_blocks(lzw_encode([p for r in rows for p in r], min_code_size), block_size)
    return (b"\x2C" + struct.pack("<HHHHB", left, top, width, height, packed) + table +
            bytes([min_code_size]) + data)


TRAILER = b"\x3B"
GREYS4 = [(0, 0, 0), (85, 85, 85), (170, 170, 170), (255, 255, 255)]
RGB4 = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)]


def pattern(width, height, colors):
    return [(x * 3 + y * 5 + (x * y) // 7) % colors for y in range(height) for x in range(width)]


def photo(width, height):
    """Smooth gradients with some texture: long LZW strings, all 256 indices."""
    return [((x + y) // 2 + ((x * 7) ^ (y * 3)) % 13) & 0xFF for y in range(height)
            for x in range(width)]


def grey_ramp(n=256):
    return [(i, (i * 3) & 0xFF, 255 - i) for i in range(n)]


FILES = {}


def case(name, note):
    def register(fn):
        FILES[name] = (fn, note)
        return fn
    return register


@case("junk-before-header.gif",
      "Four bytes of other data (\"JUNK\") before an ordinary 8 x 6 GIF89a. The reader looks for "
      "the signature again 4 bytes further on, so the file loads like the same file without them.")
def _():
    return b"JUNK" + header(8, 6, GREYS4) + image(0, 0, 8, 6, pattern(8, 6, 4)) + TRAILER


@case("lowercase-signature.gif",
      "Signature written \"gif\" and version bytes \"1x!\". The signature is compared upper-cased "
      "and the version is not checked, so it loads like a normal 8 x 6 picture.")
def _():
    return header(8, 6, GREYS4, signature=b"gif1x!") + image(0, 0, 8, 6, pattern(8, 6, 4)) + TRAILER


@case("no-trailer.gif",
      "An 8 x 6 picture whose file ends right after the image data's terminator, without the 0x3B "
      "trailer. It loads with no warning at all.")
def _():
    return header(8, 6, GREYS4) + image(0, 0, 8, 6, pattern(8, 6, 4))


@case("zero-width-frame.gif",
      "Logical screen 5 x 4; the image descriptor says 0 x 4 and the data holds 5 x 4 pixels. The "
      "frame is given the screen's size with the warning \"Image exceeds Logical Screen size\" and "
      "decodes all 20 pixels.")
def _():
    data = sub_blocks(lzw_encode(pattern(5, 4, 4), 2))
    return header(5, 4, GREYS4) + image(0, 0, 0, 4, [], min_code_size=2, data=data) + TRAILER


@case("cut-image-data.gif",
      "A 16 x 16 transparent frame (transparent index 3) whose file stops in the middle of its "
      "first data sub-block. The pixels decoded so far keep their values, the rest carry the "
      "transparent index; the warnings are \"Premature end of data\" and \"Decoder bit buffer "
      "under-run\"; the picture loads.")
def _():
    pixels = [(x + y) % 3 for y in range(16) for x in range(16)]
    data = sub_blocks(lzw_encode(pixels, 2))
    whole = header(16, 16, GREYS4) + gce(3) + image(0, 0, 16, 16, pixels, data=data)
    return whole[:len(whole) - len(data) + 1 + 20]


@case("unknown-extension-label.gif",
      "An extension with label 0x02 (none of 0x01, 0xF9, 0xFE, 0xFF) before the image. Loading "
      "fails with \"Unknown extension type\".")
def _():
    return (header(4, 4, GREYS4) + b"\x21\x02" + sub_blocks(b"hello") +
            image(0, 0, 4, 4, pattern(4, 4, 4)) + TRAILER)


@case("bad-netscape-block.gif",
      "A NETSCAPE2.0 application extension whose first sub-block has length 4 instead of the "
      "3-byte loop block. Loading fails with \"Invalid GIF data\".")
def _():
    bad = b"\x21\xFF\x0BNETSCAPE2.0\x04\x01\x00\x00\x00\x00"
    return header(4, 4, GREYS4) + bad + image(0, 0, 4, 4, pattern(4, 4, 4)) + TRAILER


@case("no-color-table.gif",
      "A 4 x 4 picture with neither a global nor a local colour table. It loads; the first draw "
      "fails with \"No global or local color table defined\".")
def _():
    return header(4, 4, None) + image(0, 0, 4, 4, pattern(4, 4, 4)) + TRAILER


@case("transparent-last-4-columns.gif",
      "A 12 x 3 frame with transparent index 0, whose transparent pixels all lie in columns 8 to "
      "11. The mask must cover those columns (bits in the second byte of each mask row), so the "
      "frame gets a mask and draws them transparently.")
def _():
    pixels = [(0 if x >= 8 else 1 + (x + y) % 3) for y in range(3) for x in range(12)]
    return header(12, 3, RGB4) + gce(0) + image(0, 0, 12, 3, pixels) + TRAILER


@case("comment-after-image.gif",
      "One 4 x 4 image followed by a comment extension before the trailer. The comment makes a "
      "second frame-list entry without an image; the picture draws as its first frame.")
def _():
    return (header(4, 4, GREYS4) + image(0, 0, 4, 4, pattern(4, 4, 4)) + comment(b"made by hand") +
            TRAILER)


@case("huge-frame.gif",
      "Logical screen and frame of 65535 x 65535 with a few bytes of image data. Loading fails "
      "with \"Failed to allocate memory for GIF DIB\" before any pixel memory is taken.")
def _():
    data = sub_blocks(lzw_encode([1, 2, 3], 2))
    return header(65535, 65535, GREYS4) + image(0, 0, 65535, 65535, [], min_code_size=2, data=data) + TRAILER


@case("many-large-frames.gif",
      "A thousand frames of 65535 x 65535, each with a few bytes of data. The first already passes "
      "the picture's budget of 512 Mi colour indices, and loading fails with \"Failed to allocate "
      "memory for GIF DIB\" instead of taking all memory. (The budget summed over many frames is "
      "shown with a small budget in gif_reader_test.cpp.)")
def _():
    data = sub_blocks(lzw_encode([1, 2, 3], 2))
    frame = image(0, 0, 65535, 65535, [], min_code_size=2, data=data)
    return header(65535, 65535, GREYS4) + frame * 1000 + TRAILER


@case("code-size-9.gif",
      "Minimum code size 9: literals would not fit in a byte per pixel. Loading fails with "
      "\"Invalid GIF data\".")
def _():
    data = sub_blocks(lzw_encode([1, 2, 3, 4], 9))
    return header(2, 2, GREYS4) + image(0, 0, 2, 2, [], min_code_size=9, data=data) + TRAILER


@case("extra-codes-after-last-pixel.gif",
      "Two 6 x 4 frames; after the last pixel of the first frame the encoder wrote a clear code "
      "and two literal codes before the end code. All remaining sub-blocks of that frame are "
      "skipped, so the second frame is still read: two frames load.")
def _():
    pixels = pattern(6, 4, 4)
    data = sub_blocks(lzw_encode(pixels, 2, extra_codes=(4, 1, 2)), size=3)
    return (header(6, 4, GREYS4) + image(0, 0, 6, 4, pixels, data=data) +
            image(0, 0, 6, 4, pixels[::-1]) + TRAILER)


@case("app-extension-size-12.gif",
      "An application extension whose block size byte says 12 (one byte more than the identifier) "
      "followed by two data sub-blocks. It is kept like an unknown application extension with its "
      "sub-blocks, and the picture loads.")
def _():
    ext = b"\x21\xFF\x0CMYAPPLIC1.0X" + sub_blocks(b"abcdefgh", 5)
    return header(4, 4, GREYS4) + ext + image(0, 0, 4, 4, pattern(4, 4, 4)) + TRAILER


@case("unknown-block-type.gif",
      "One good 4 x 4 frame, then the byte 0x99 where a block should start. The warning "
      "\"Unknown GIF block type\" stops reading blocks, the trailer check warns \"Invalid Image "
      "trailer\", and the picture loads with its one frame.")
def _():
    return (header(4, 4, GREYS4) + image(0, 0, 4, 4, pattern(4, 4, 4)) + b"\x99\x01\x02" +
            TRAILER)


@case("truncated-header.gif",
      "Only the signature and 3 bytes of the logical screen descriptor. Loading fails with "
      "\"Premature end of data\".")
def _():
    return header(4, 4, GREYS4)[:9]


@case("invalid-signature.gif",
      "Twenty bytes of text, no GIF signature at the start or 4 bytes in. Loading fails with "
      "\"Invalid GIF signature\".")
def _():
    return b"this is not a gif!!!"


@case("short-graphic-control.gif",
      "A graphic control extension cut after 3 of its 6 bytes at the end of the file, after one "
      "good frame. The warning is \"Premature end of data\"; the picture loads with the frame and "
      "an entry holding the cut extension.")
def _():
    return header(4, 4, GREYS4) + image(0, 0, 4, 4, pattern(4, 4, 4)) + b"\x21\xF9\x04\x01\x00"


@case("valid-interlaced.gif",
      "A 13 x 19 interlaced frame with a local 16-colour table inside a 20 x 24 screen at (3, 2). "
      "Decoded indices are compared with giflib's.")
def _():
    pixels = pattern(13, 19, 16)
    local = [(i * 16, 255 - i * 16, (i * 40) & 0xFF) for i in range(16)]
    return (header(20, 24, GREYS4) + image(3, 2, 13, 19, pixels, colors=local, interlaced=True) +
            TRAILER)


@case("valid-photo.gif",
      "A 120 x 90 picture using all 256 colours with long LZW strings; the table fills up and is "
      "cleared several times. Compared with giflib's decoding.")
def _():
    return header(120, 90, grey_ramp()) + image(0, 0, 120, 90, photo(120, 90)) + TRAILER


@case("valid-deferred-clear.gif",
      "A 160 x 120 picture whose encoder keeps writing 12-bit codes after the table is full, "
      "without a clear code. Compared with giflib's decoding.")
def _():
    pixels = photo(160, 120)
    data = sub_blocks(lzw_encode(pixels, 8, defer_clear=True))
    return header(160, 120, grey_ramp()) + image(0, 0, 160, 120, pixels, data=data) + TRAILER


@case("valid-animation.gif",
      "Three 10 x 8 frames with a NETSCAPE2.0 loop extension, graphic control extensions (one "
      "transparent) and a frame at an offset; sub-blocks of 7 bytes so that codes straddle them. "
      "Compared with giflib's decoding.")
def _():
    a = pattern(10, 8, 4)
    b = [(p + 1) % 4 for p in a]
    c = pattern(5, 4, 4)
    return (header(10, 8, RGB4) + netscape(0) + gce(None, 10) + image(0, 0, 10, 8, a, block_size=7) +
            gce(2, 10, 1) + image(0, 0, 10, 8, b, block_size=7) + gce(None, 10, 2) +
            image(5, 4, 5, 4, c) + TRAILER)


@case("valid-code-size-1.gif",
      "A 2-colour 9 x 5 picture written with minimum code size 1 (as some encoders do). Compared "
      "with giflib's decoding.")
def _():
    pixels = [(x ^ y) & 1 for y in range(5) for x in range(9)]
    return header(9, 5, [(0, 0, 0), (255, 255, 255)]) + image(0, 0, 9, 5, pixels, min_code_size=1) + TRAILER


@case("frame-far-outside-screen.gif",
      "Logical screen 2 x 1 holding a 3000 x 1000 frame at (0, 0) in colour 1 and a 2 x 2 frame "
      "at (60000, 60000). Scaled into a thumbnail the first frame's rectangle is 1500 times the "
      "target's width; only the visible part may be made, so drawing fills the target with colour "
      "1 and allocates nothing of the frame rectangle's size. The second frame lies outside.")
def _():
    return (header(2, 1, RGB4) + image(0, 0, 3000, 1000, [1] * 3000000) +
            image(60000, 60000, 2, 2, [2, 2, 2, 2]) + TRAILER)


def main():
    for name, (fn, note) in FILES.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(fn())
        with open(os.path.join(HERE, name[:-4] + ".txt"), "w") as f:
            f.write(note + " Made by make_gif_corpus.py.\n")


if __name__ == "__main__":
    main()
