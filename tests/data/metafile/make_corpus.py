#!/usr/bin/env python3
"""Writes the crafted metafile corpus of this folder.

Every file is assembled record by record with struct from the published layouts of Windows
metafiles (the 22-byte placeable header, the 18-byte header, 16-bit records) and enhanced
metafiles (the EMR_HEADER record and 32-bit records). No metafile library is used. For each
file the script also writes:

  <name>.txt              how the file was made and what it proves
  expected/<picture>.ppm  the picture a drawing case describes, 100 x 50 pixels, computed
                          here from the shapes (a pixel belongs to a shape when its centre
                          lies inside it), shared by the cases that draw the same thing
  cases.tsv               file, outcome (ok, invalid, read-error), size in 0.01 mm and in
                          pixels at 96 dpi (or -), expected picture (or -), note

The drawing cases map one logical unit onto one pixel of a 100 x 50 target (the test draws
into 101 x 51 pixels: the right and bottom edges are moved in by one).

libreoffice-drawing.wmf/.emf and inkscape-drawing.wmf/.emf are not made here: they are
LibreOffice's and Inkscape's exports of libreoffice-drawing.svg, listed in cases.tsv as they are.

Run it from anywhere: python3 tests/data/metafile/make_corpus.py
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
EXPECTED = os.path.join(HERE, "expected")
CASES = []
W, H = 100, 50

WHITE, RED, BLUE, GREEN, YELLOW = (255, 255, 255), (255, 0, 0), (0, 0, 255), (0, 160, 0), (255, 255, 0)


def colorref(c):
    return c[0] | c[1] << 8 | c[2] << 16


# ---------------------------------------------------------------- Windows metafiles

def wrec(function, words=(), raw=b""):
    body = b"".join(struct.pack("<h" if w < 0 else "<H", w) for w in words) + raw
    if len(body) % 2:
        body += b"\0"
    return struct.pack("<IH", 3 + len(body) // 2, function) + body


def wcolor(c):
    v = colorref(c)
    return (v & 0xFFFF, v >> 16)


def wmf(records, box=(0, 0, W, H), inch=96, key=0x9AC6CDD7, bad_checksum=False, objects=8,
        placeable=True, header_size=9):
    body = b"".join(records) + wrec(0)
    header = struct.pack("<HHHIHIH", 1, header_size, 0x300, (18 + len(body)) // 2, objects, 64, 0)
    if not placeable:
        return header + body
    p = struct.pack("<IHhhhhHI", key, 0, *box, inch, 0)
    checksum = 0
    for i in range(0, 20, 2):
        checksum ^= struct.unpack_from("<H", p, i)[0]
    if bad_checksum:
        checksum ^= 1
    return p + struct.pack("<H", checksum) + header + body


def w_pen_null():
    return wrec(0x02FA, (5, 0, 0, 0, 0))


def w_brush(c):
    return wrec(0x02FC, (0,) + wcolor(c) + (0,))


def w_select(i):
    return wrec(0x012D, (i,))


def w_delete(i):
    return wrec(0x01F0, (i,))


def w_rect(l, t, r, b):
    return wrec(0x041B, (b, r, t, l))


def w_ellipse(l, t, r, b):
    return wrec(0x0418, (b, r, t, l))


def w_fill(c, rect):
    # brush in slot 1 (slot 0 holds the null pen), rectangle, brush deleted again
    return [w_brush(c), w_select(1), w_rect(*rect), w_delete(1)]


def w_shapes():
    return [w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) + w_fill(RED, (10, 10, 40, 30)) + \
        [w_brush(BLUE), w_select(1), w_ellipse(50, 5, 90, 45), w_delete(1)]


def dib_2x2():
    # bottom-up rows: blue, yellow / red, green
    header = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 16, 0, 0, 0, 0)
    rows = bytes((255, 0, 0, 0, 255, 255, 0, 0)) + bytes((0, 0, 255, 0, 160, 0, 0, 0))
    return header + rows


# ---------------------------------------------------------------- enhanced metafiles

def erec(kind, payload=b""):
    if len(payload) % 4:
        payload += b"\0" * (4 - len(payload) % 4)
    return struct.pack("<II", kind, 8 + len(payload)) + payload


def emf(records, frame=(0, 0, 1000, 500), device=(1000, 1000), mm=(100, 100), handles=8,
        palette=(), total_delta=0, total=None):
    pal = b"".join(struct.pack("<BBBB", *c, 0) for c in palette)
    eof = struct.pack("<III", 14, 20 + len(pal), len(palette)) + struct.pack("<I", 16 if palette else 0) + pal + \
        struct.pack("<I", 20 + len(pal))
    body = b"".join(records) + eof
    size = 108
    nbytes = size + len(body) + total_delta if total is None else total
    header = bytearray(size)
    struct.pack_into("<II", header, 0, 1, size)
    struct.pack_into("<iiii", header, 8, 0, 0, W - 1, H - 1)
    struct.pack_into("<iiii", header, 24, *frame)
    struct.pack_into("<IIIIHH", header, 40, 0x464D4520, 0x10000, nbytes, len(records) + 2, handles, 0)
    struct.pack_into("<I", header, 68, len(palette))
    struct.pack_into("<ii", header, 72, *device)
    struct.pack_into("<ii", header, 80, *mm)
    return bytes(header) + body


def e_brush(i, c, style=0, hatch=0):
    return erec(39, struct.pack("<IIII", i, style, colorref(c), hatch))


def e_select(i):
    return erec(37, struct.pack("<I", i))


def e_delete(i):
    return erec(40, struct.pack("<I", i))


def e_rect(l, t, r, b):
    return erec(43, struct.pack("<iiii", l, t, r, b))


def e_ellipse(l, t, r, b):
    return erec(42, struct.pack("<iiii", l, t, r, b))


NULL_PEN = 0x80000008


def e_fill(c, rect):
    return [e_brush(1, c), e_select(1), e_rect(*rect), e_delete(1)]


def e_shapes(scale=1, flip=1):
    def s(v):
        return [int(x * scale) for x in v]

    def r(l, t, rr, b):
        return s((l, t * flip, rr, b * flip))
    return [e_select(NULL_PEN)] + e_fill(WHITE, r(0, 0, W, H)) + e_fill(RED, r(10, 10, 40, 30)) + \
        [e_brush(1, BLUE), e_select(1), e_ellipse(*r(50, 5, 90, 45)), e_delete(1)]


# ---------------------------------------------------------------- expected pictures

def picture(name, colour_at):
    with open(os.path.join(EXPECTED, name + ".ppm"), "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (W, H))
        for y in range(H):
            for x in range(W):
                f.write(bytes(colour_at(x + 0.5, y + 0.5)))


def in_rect(x, y, l, t, r, b):
    return l <= x < r and t <= y < b


def in_ellipse(x, y, l, t, r, b):
    cx, cy, rx, ry = (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def shapes(x, y):
    if in_ellipse(x, y, 50, 5, 90, 45):
        return BLUE
    if in_rect(x, y, 10, 10, 40, 30):
        return RED
    return WHITE


def case(name, data, ext, outcome, note, mm="-", px="-", expected="-"):
    with open(os.path.join(HERE, name + "." + ext), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, name + ".txt"), "w") as f:
        f.write(note + "\n")
    CASES.append((name + "." + ext, outcome, mm, px, expected, note))


def pp_records_w(mode):
    # two squares wound the same way; ALTERNATE leaves the inner one empty, WINDING fills it
    outer = [(10, 10), (40, 10), (40, 40), (10, 40)]
    inner = [(20, 20), (30, 20), (30, 30), (20, 30)]
    words = [2, 4, 4] + [v for p in outer + inner for v in p]
    return [w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) + \
        [wrec(0x0106, (mode,)), w_brush(RED), w_select(1), wrec(0x0538, words)]


def pp_records_e(mode):
    outer = [(10, 10), (40, 10), (40, 40), (10, 40)]
    inner = [(20, 20), (30, 20), (30, 30), (20, 30)]
    pts = b"".join(struct.pack("<hh", *p) for p in outer + inner)
    rec = erec(91, struct.pack("<iiii", 0, 0, 40, 40) + struct.pack("<IIII", 2, 8, 4, 4) + pts)
    return [e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + \
        [erec(19, struct.pack("<I", mode)), e_brush(1, RED), e_select(1), rec]


def main():
    os.makedirs(EXPECTED, exist_ok=True)
    picture("shapes", shapes)
    picture("polypolygon-alternate",
            lambda x, y: RED if in_rect(x, y, 10, 10, 40, 40) and not in_rect(x, y, 20, 20, 30, 30) else WHITE)
    picture("polypolygon-winding", lambda x, y: RED if in_rect(x, y, 10, 10, 40, 40) else WHITE)
    picture("quadrants", lambda x, y: (RED if x < 50 else GREEN) if y < 25 else (BLUE if x < 50 else YELLOW))
    picture("pie", lambda x, y: BLUE if (x - 35) ** 2 + (y - 25) ** 2 <= 625 and x >= 35 and y <= 25 else WHITE)
    picture("clip", lambda x, y: GREEN if x < 50 else (WHITE if in_rect(x, y, 70, 10, 80, 40) else BLUE))
    picture("checker", lambda x, y: RED if (int(x) + int(y)) % 2 == 0 else BLUE)
    picture("path-figures",
            lambda x, y: RED if in_rect(x, y, 10, 10, 30, 40) or in_rect(x, y, 60, 10, 90, 25) or
            in_rect(x, y, 60, 30, 90, 45) else WHITE)
    picture("mono-squares",
            lambda x, y: BLUE if int(x) % 8 >= 4 or int(y) % 8 >= 4 else (RED if x < 50 else GREEN))
    picture("paint-region", lambda x, y: GREEN if in_rect(x, y, 20, 10, 80, 40) else BLUE)
    picture("mapping", lambda x, y: RED if in_rect(x, y, 0, 0, 50, 25) else WHITE)

    sized = dict(mm="2646x1323", px="100x50")
    e_sized = dict(mm="1000x500", px="100x50")
    # ---- Windows metafiles that draw
    case("wmf-shapes", wmf(w_shapes()), "wmf", "ok",
         "Placeable Windows metafile, box 0,0-100,50 at 96 units per inch: a white background, a red "
         "rectangle and a blue ellipse drawn with a null pen.", expected="shapes", **sized)
    case("wmf-polypolygon-alternate", wmf(pp_records_w(1)), "wmf", "ok",
         "META_POLYPOLYGON of two squares wound the same way in ALTERNATE mode: the inner square stays empty.",
         expected="polypolygon-alternate", **sized)
    case("wmf-polypolygon-winding", wmf(pp_records_w(2)), "wmf", "ok",
         "The same two squares in WINDING mode: the inner square is filled too (the record's documented "
         "meaning, which some renderers ignore).", expected="polypolygon-winding", **sized)
    dib = dib_2x2()
    stretch = wrec(0x0F43, (0x0020, 0x00CC, 0, 2, 2, 0, 0, H, W, 0, 0), dib)
    case("wmf-stretchdib", wmf([stretch]), "wmf", "ok",
         "META_STRETCHDIB of a 2 x 2 24-bit bottom-up DIB stretched over the whole box: four quadrants, "
         "red top left, green top right, blue bottom left, yellow bottom right.", expected="quadrants", **sized)
    pie = wrec(0x081A, (0, 35, 25, 60, 50, 60, 0, 10))
    case("wmf-pie", wmf([w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) +
                        [w_brush(BLUE), w_select(1), pie]), "wmf", "ok",
         "META_PIE in the circle of radius 25 around (35, 25), from the radial at 0 degrees to the one "
         "at 90 degrees, counterclockwise: the top right quarter.", expected="pie", **sized)
    clip = [w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) + [
        wrec(0x001E), wrec(0x0416, (H, 50, 0, 0))] + w_fill(GREEN, (0, 0, W, H)) + [
        wrec(0x0127, (0xFFFF,)), wrec(0x0415, (40, 80, 10, 70))] + w_fill(BLUE, (50, 0, W, H))
    case("wmf-clip-savedc", wmf(clip), "wmf", "ok",
         "SaveDC, IntersectClipRect to the left half, green over everything, RestoreDC(-1) (the clip "
         "goes), ExcludeClipRect 70,10-80,40, blue over the right half: the excluded strip stays white.",
         expected="clip", **sized)
    mapping = [w_pen_null(), w_select(0), wrec(0x020B, (-25, -50)), wrec(0x020C, (100, 200))] + \
        w_fill(WHITE, (-50, -25, 150, 75)) + w_fill(RED, (-50, -25, 50, 25))
    case("wmf-window", wmf(mapping), "wmf", "ok",
         "SETWINDOWORG -50,-25 and SETWINDOWEXT 200,100 override the box: the logical rectangle "
         "-50,-25-50,25 fills the top left quarter.", expected="mapping", **sized)
    # META_CREATEREGION: one scan 10-40 with one interval 20-80
    w_region = wrec(0x06FF, (0, 6, 0, 0, 0, 1, 4, 20, 10, 80, 40, 2, 10, 40, 20, 80, 2))
    case("wmf-paint-region", wmf([w_pen_null(), w_select(0)] + w_fill(BLUE, (0, 0, W + 1, H + 1)) +
                                 [w_brush(GREEN), w_select(1), w_region, wrec(0x012B, (2,))]), "wmf", "ok",
         "A blue background, a green brush selected (slot 1), META_CREATEREGION of the rectangle "
         "20,10-80,40 (slot 2), META_PAINTREGION of it: the region is painted with the selected brush.",
         expected="paint-region", **sized)
    # META_DIBBITBLT without a bitmap: rop, ySrc, xSrc, reserved, height, width, yDst, xDst
    patblt = wrec(0x0940, (0x0021, 0x00F0, 0, 0, 0, 30, 60, 10, 20))
    case("wmf-dibbitblt-pattern", wmf([w_pen_null(), w_select(0)] + w_fill(BLUE, (0, 0, W + 1, H + 1)) +
                                      [w_brush(GREEN), w_select(1), patblt]), "wmf", "ok",
         "A blue background, a green brush selected, META_DIBBITBLT without a bitmap (its short form, "
         "with a reserved word before the height) copying the brush (PATCOPY) to 20,10 60 x 30: the "
         "same green rectangle as wmf-paint-region.", expected="paint-region", **sized)
    # ---- sizes of Windows metafiles
    case("wmf-inch-1440", wmf(w_shapes(), inch=1440), "wmf", "ok",
         "Box 100 x 50 at 1440 units per inch: 176 x 88 hundredths of a millimetre, 7 x 3 pixels at 96 dpi.",
         mm="176x88", px="7x3")
    case("wmf-inch-0", wmf(w_shapes(), inch=0), "wmf", "ok",
         "Units per inch 0: 96 is taken for the size in 0.01 mm; the pixel size is the box itself.",
         mm="2646x1323", px="100x50")
    # ---- refused Windows metafiles
    case("wmf-bad-key", wmf(w_shapes(), key=0x9AC6CDD6), "wmf", "invalid", "The placeable key is off by one.")
    case("wmf-bad-checksum", wmf(w_shapes(), bad_checksum=True), "wmf", "invalid",
         "The placeable header's checksum is not the XOR of the ten words before it.")
    case("wmf-no-placeable", wmf(w_shapes(), placeable=False), "wmf", "invalid",
         "A plain Windows metafile without the 22-byte placeable header.")
    case("wmf-short", wmf(w_shapes())[:10], "wmf", "read-error", "Ten bytes: the placeable header cannot be read whole.")
    good = bytearray(wmf(w_shapes()))
    struct.pack_into("<I", good, 22 + 18, 0x7FFFFFFF)
    case("wmf-record-past-end", bytes(good), "wmf", "invalid",
         "The first record's size runs far past the end of the file: refused, nothing read past it.")
    good = bytearray(wmf(w_shapes()))
    struct.pack_into("<I", good, 22 + 18, 0)
    case("wmf-record-size-0", bytes(good), "wmf", "invalid", "A record of size 0 (which would never advance).")
    case("wmf-header-size-8", wmf(w_shapes(), header_size=8), "wmf", "invalid",
         "The 18-byte header says it has 8 words: not a metafile header.")
    # ---- hostile Windows metafiles that load and must draw safely
    hostile = [w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) + [
        wrec(0x0626, (9, 4, 1, 2)),                    # SETABORTPROC escape
        wrec(0x0626, (0x0F, 100), b"x" * 10),          # escape whose count runs past its record
        wrec(0x0324, (30000, 1, 2, 3, 4)),             # polygon count far past its record
        wrec(0x0538, (60000, 1, 2)),                   # poly-polygon counts past the record
        w_select(60000), w_delete(60000),              # objects outside the table
        wrec(0x0127, (0x8000,)),                       # RestoreDC(-32768) with nothing saved
        wrec(0x0F43, (0x0020, 0x00CC, 0, 2, 2, 0, 0, H, W, 0, 0),
             struct.pack("<IiiHHIIiiII", 40, 30000, 30000, 1, 24, 0, 0, 0, 0, 0, 0)),
        wrec(0x0A32, (10, 10, 60000, 0), b"abc"),      # text longer than its record
        wrec(0x06FF, (0, 6, 0, 0, 100, 65535, 0, 0, 0, 10, 10)),  # region with too many scans
    ] + [wrec(0x02FC, (0, 0, 0, 0)) for _ in range(40)]  # more objects than the table holds
    case("wmf-hostile-records", wmf(hostile), "wmf", "ok",
         "Escapes (SETABORTPROC included), counts and lengths far past their records, object indices "
         "outside the table, a RestoreDC with nothing saved, a DIB claiming 30000 x 30000 pixels with "
         "no pixel data, a region with 65535 scans in a few bytes, and more objects than the table "
         "has slots: the file loads and draws its white background, and nothing else happens.",
         mm="2646x1323", px="100x50")

    # ---- enhanced metafiles that draw
    case("emf-shapes", emf(e_shapes()), "emf", "ok",
         "Enhanced metafile, frame 0,0-1000,500 hundredths of a millimetre on a reference device of 10 "
         "pixels per millimetre, MM_TEXT: the same shapes as wmf-shapes.", expected="shapes", **e_sized)
    case("emf-lometric", emf([erec(17, struct.pack("<I", 2))] + e_shapes(flip=-1)), "emf", "ok",
         "MM_LOMETRIC (0.1 mm, y up) on the 10-pixel-per-millimetre device: the shapes drawn with negated "
         "y coordinates land where wmf-shapes has them.", expected="shapes", **e_sized)
    case("emf-anisotropic",
         emf([erec(17, struct.pack("<I", 8)), erec(9, struct.pack("<ii", 1000, 500)),
              erec(11, struct.pack("<ii", 100, 50))] + e_shapes(scale=10)), "emf", "ok",
         "MM_ANISOTROPIC with window extent 1000 x 500 and viewport extent 100 x 50: the shapes drawn ten "
         "times larger come out at the same place.", expected="shapes", **e_sized)
    case("emf-world-transform",
         emf([erec(35, struct.pack("<ffffff", 0.5, 0, 0, 0.5, 0, 0))] + e_shapes(scale=2)), "emf", "ok",
         "SETWORLDTRANSFORM scaling by one half: the shapes drawn twice as large.", expected="shapes", **e_sized)
    path = [e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + [
        e_brush(1, RED), e_select(1), erec(59), e_rect(10, 10, 40, 30), erec(60), erec(62, b"\0" * 16),
        e_delete(1), e_brush(1, BLUE), e_select(1), erec(59), e_ellipse(50, 5, 90, 45), erec(60),
        erec(62, b"\0" * 16)]
    case("emf-path", emf(path), "emf", "ok",
         "The rectangle and the ellipse drawn as paths (BEGINPATH, shape, ENDPATH, FILLPATH).",
         expected="shapes", **e_sized)
    region = struct.pack("<IIII", 32, 1, 1, 16) + struct.pack("<iiii", 10, 10, 40, 30) + \
        struct.pack("<iiii", 10, 10, 40, 30)
    clip = [e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + [
        erec(75, struct.pack("<II", len(region), 5) + region)] + e_fill(RED, (0, 0, W, H)) + [
        erec(75, struct.pack("<II", 0, 5)), erec(59), e_ellipse(50, 5, 90, 45), erec(60),
        erec(67, struct.pack("<I", 5))] + e_fill(BLUE, (0, 0, W, H))
    case("emf-clip", emf(clip), "emf", "ok",
         "EXTSELECTCLIPRGN with a one-rectangle region, red over everything; the clip removed; an ellipse "
         "path made the clip with SELECTCLIPPATH, blue over everything.", expected="shapes", **e_sized)
    bmi = dib[:40]
    bits = dib[40:]
    sdb = struct.pack("<iiii", 0, 0, W, H) + struct.pack("<iiiiii", 0, 0, 0, 0, 2, 2) + \
        struct.pack("<IIIIII", 80, 40, 120, len(bits), 0, 0x00CC0020) + struct.pack("<ii", W, H)
    case("emf-stretchdibits", emf([erec(81, sdb + bmi + bits)]), "emf", "ok",
         "EMR_STRETCHDIBITS of the same 2 x 2 DIB over the whole frame: four quadrants.",
         expected="quadrants", **e_sized)
    case("emf-polypolygon-alternate", emf(pp_records_e(1)), "emf", "ok",
         "EMR_POLYPOLYGON16 of two same-wound squares in ALTERNATE mode.",
         expected="polypolygon-alternate", **e_sized)
    case("emf-polypolygon-winding", emf(pp_records_e(2)), "emf", "ok",
         "The same in WINDING mode: the inner square is filled.", expected="polypolygon-winding", **e_sized)
    case("emf-pie", emf([e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + [
        e_brush(1, BLUE), e_select(1), erec(47, struct.pack("<iiiiiiii", 10, 0, 60, 50, 60, 25, 35, 0))]),
         "emf", "ok", "EMR_PIE: the top right quarter of the circle, as wmf-pie.", expected="pie", **e_sized)
    # 2 x 2 pattern, bottom-up rows: blue, red / red, blue -> checker with red at (0, 0)
    pat_info = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 0, 0, 0, 0, 0)
    pat_bits = bytes((255, 0, 0, 0, 0, 255, 0, 0)) + bytes((0, 0, 255, 255, 0, 0, 0, 0))
    pattern = erec(94, struct.pack("<IIIIII", 1, 0, 32, len(pat_info), 32 + len(pat_info), len(pat_bits))
                   + pat_info + pat_bits)
    case("emf-pattern-brush", emf([e_select(NULL_PEN), pattern, e_select(1), e_rect(0, 0, W, H)]), "emf", "ok",
         "EMR_CREATEDIBPATTERNBRUSHPT with a 2 x 2 24-bit DIB (a red and blue checker) filling the frame: "
         "the pattern repeats from the target's origin.", expected="checker", **e_sized)
    # Three figures of one path, each MoveTo its top left corner, PolyBezierTo (a straight
    # curve) along the top, LineTo, LineTo, CloseFigure. Were each figure tied to the one
    # before, the ties and the closing line would enclose the triangle of the three starts.
    def figure(l, t, r, b):
        third = (r - l) // 3
        bez = erec(5, struct.pack("<iiii", l, t, r, t) + struct.pack("<I", 3) +
                   struct.pack("<iiiiii", l + third, t, r - third, t, r, t))
        return [erec(27, struct.pack("<ii", l, t)), bez, erec(54, struct.pack("<ii", r, b)),
                erec(54, struct.pack("<ii", l, b)), erec(61)]
    figures = [e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + [
        erec(19, struct.pack("<I", 2)), e_brush(1, RED), e_select(1), erec(59)] + \
        figure(10, 10, 30, 40) + figure(60, 10, 90, 25) + figure(60, 30, 90, 45) + \
        [erec(60), erec(62, b"\0" * 16)]
    case("emf-path-figures", emf(figures), "emf", "ok",
         "One path of three figures, each MOVETOEX to its top left corner, POLYBEZIERTO of a straight "
         "curve along the top, two LINETO and CLOSEFIGURE, filled by FILLPATH in WINDING mode: three "
         "red rectangles and nothing between them (a renderer that ties each figure to the one before "
         "fills the triangle of the three starting corners as well).",
         expected="path-figures", **e_sized)
    # 8 x 8 monochrome pattern without a colour table (usage DIB_PAL_INDICES), bottom-up: the
    # bottom four rows 0xFF (all 1 bits: background colour), the top four 0x0F (columns 0-3
    # 0 bits: text colour, columns 4-7 background colour).
    mono_info = struct.pack("<IiiHHIIiiII", 40, 8, 8, 1, 1, 0, 32, 0, 0, 0, 0)
    mono_bits = bytes((0xFF, 0, 0, 0)) * 4 + bytes((0x0F, 0, 0, 0)) * 4
    mono = erec(93, struct.pack("<IIIIII", 1, 2, 32, len(mono_info), 32 + len(mono_info), len(mono_bits))
                + mono_info + mono_bits)
    mono_records = [e_select(NULL_PEN), mono, e_select(1), erec(18, struct.pack("<I", 1)),
                    erec(24, struct.pack("<I", colorref(RED))), erec(25, struct.pack("<I", colorref(BLUE))),
                    e_rect(0, 0, 50, H + 1), erec(24, struct.pack("<I", colorref(GREEN))),
                    e_rect(50, 0, W + 1, H + 1)]
    case("emf-mono-brush", emf(mono_records), "emf", "ok",
         "EMR_CREATEMONOBRUSH of an 8 x 8 bottom-up 1-bit DIB with no colour table (top four rows "
         "0x0F, bottom four 0xFF), made while the text colour is black; transparent background mode; "
         "text colour red and background blue, the left half filled; text colour green, the right "
         "half filled. 0 bits take the text colour and 1 bits the background colour current at the "
         "fill, whatever the background mode: from the target's origin, 4 x 4 squares of red (left) or "
         "green (right) in the top left quarter of every 8 x 8 tile, blue elsewhere.",
         expected="mono-squares", **e_sized)
    rgn = struct.pack("<IIII", 32, 1, 1, 16) + struct.pack("<iiii", 20, 10, 80, 40) + \
        struct.pack("<iiii", 20, 10, 80, 40)
    paint_rgn = erec(74, struct.pack("<iiii", 20, 10, 80, 40) + struct.pack("<I", len(rgn)) + rgn)
    case("emf-paint-region", emf([e_select(NULL_PEN)] + e_fill(BLUE, (0, 0, W + 1, H + 1)) +
                                 [e_brush(1, GREEN), e_select(1), paint_rgn]), "emf", "ok",
         "A blue background, a green brush selected, EMR_PAINTRGN of the rectangle 20,10-80,40: the "
         "region is painted with the selected brush.", expected="paint-region", **e_sized)
    # ---- sizes of enhanced metafiles
    case("emf-frame-offset", emf(e_shapes(), frame=(100, 200, 2100, 1200), device=(1920, 1080), mm=(508, 286)),
         "emf", "ok", "Frame 100,200-2100,1200 on a 1920 x 1080 pixel, 508 x 286 mm device: 2000 x 1000 "
         "hundredths of a millimetre, 76 x 38 pixels.", mm="2000x1000", px="76x38")
    case("emf-palette", emf(e_shapes(), palette=[(1, 2, 3), (4, 5, 6)]), "emf", "ok",
         "An end record carrying two palette entries: the picture has a palette.", **e_sized)
    # ---- refused enhanced metafiles
    case("emf-total-past-end", emf(e_shapes(), total_delta=400), "emf", "read-error",
         "The header's total size is 400 bytes more than the file has.")
    case("emf-total-below-100", emf(e_shapes(), total=60), "emf", "invalid",
         "The header's total size is 60, less than the header itself.")
    bad = bytearray(emf(e_shapes()))
    struct.pack_into("<I", bad, 108 + 4, 0x7FFFFFF0)
    case("emf-record-past-end", bytes(bad), "emf", "invalid", "The first record after the header claims 2 GiB.")
    case("device-mm-0", emf(e_shapes(), mm=(0, 0)), "emf", "invalid",
         "A reference device of 0 x 0 millimetres: no pixel size can be had from it (no division by zero).")
    # ---- hostile enhanced metafiles that load and must draw safely
    big_dib = struct.pack("<IiiHHIIiiII", 40, 30000, 30000, 1, 32, 0, 0, 0, 0, 0, 0)
    sdb_big = struct.pack("<iiii", 0, 0, W, H) + struct.pack("<iiiiii", 0, 0, 0, 0, 30000, 30000) + \
        struct.pack("<IIIIII", 80, 40, 120, 16, 0, 0x00CC0020) + struct.pack("<ii", W, H)
    hostile = e_shapes() + [
        erec(70, struct.pack("<I", 0x7FFFFFFF) + b"EMF+"),                      # comment claiming 2 GiB
        erec(3, struct.pack("<iiii", 0, 0, 1, 1) + struct.pack("<I", 0x20000000)),  # polygon count huge
        erec(8, struct.pack("<iiii", 0, 0, 1, 1) + struct.pack("<III", 0x40000000, 0x40000000, 5)),
        e_select(0x7FFFFFFF), e_delete(0x7FFFFFFF), erec(34, struct.pack("<i", -100000)),
        erec(81, sdb_big + big_dib + b"\0" * 16),
        erec(84, b"\0" * 28 + struct.pack("<iiIIIiiiiI", 5, 5, 0x7FFFFFFF, 76, 0, 0, 0, 0, 0, 0)),
        erec(75, struct.pack("<II", 0x7FFFFFF0, 5)),
        erec(35, struct.pack("<ffffff", float("nan"), 0, 0, 1, 0, 0)),
        erec(36, struct.pack("<ffffffI", 0, 0, 0, 0, 0, 0, 4)),
    ] + [erec(33) for _ in range(2000)]
    case("emf-hostile-records", emf(hostile, handles=65535), "emf", "ok",
         "After the shapes: a comment, counts far past their records, handle indices outside the table, "
         "a RestoreDC far back, a STRETCHDIBITS claiming 30000 x 30000 pixels with 16 bytes of data, "
         "text of 2^31 characters, a clip region larger than its record, a NaN and a singular world "
         "transform, 2000 nested SaveDC records and a table of 65535 handles: it loads and draws the "
         "shapes, nothing else.", expected="shapes", **e_sized)

    short_pp = struct.pack("<II", 91, 28) + struct.pack("<iiii", 0, 0, 1, 1) + struct.pack("<I", 0xFFFFFFFF)
    case("emf-polypolygon-short", emf(e_shapes() + [short_pp]), "emf", "ok",
         "An EMR_POLYPOLYGON16 record of 28 bytes, too short for its counts, claiming 2^32 - 1 "
         "polygons of no points: skipped at once (no loop over the claimed count).",
         expected="shapes", **e_sized)
    # ---- text in the font's character set
    face_sjis = "ＭＳ ゴシック".encode("cp932")
    text_sjis = "日本語テキスト".encode("cp932")

    def w_font(charset):
        return wrec(0x02FB, (-20 & 0xFFFF, 0, 0, 0, 400), bytes((0, 0, 0, charset, 0, 0, 0, 0)) + face_sjis + b"\0")
    text_rec = wrec(0x0A32, (5, 5, len(text_sjis), 0), text_sjis)
    for name, charset in (("wmf-text-sjis", 128), ("wmf-text-ansi", 0)):
        case(name, wmf([w_pen_null(), w_select(0)] + w_fill(WHITE, (0, 0, W, H)) +
                       [wrec(0x0102, (1,)), w_font(charset), w_select(1), text_rec]), "wmf", "ok",
             f"META_EXTTEXTOUT of the Shift-JIS bytes of 日本語テキスト with a font of character set "
             f"{charset}, 20 units high, transparent background, at (5, 5).", **sized)
    face_w = "ＭＳ ゴシック".encode("utf-16-le")
    logfont = struct.pack("<iiiiiBBBBBBBB", -20, 0, 0, 0, 400, 0, 0, 0, 128, 0, 0, 0, 0) + \
        face_w + b"\0" * (64 - len(face_w))
    text_w = "日本語テキスト".encode("utf-16-le")
    ext = struct.pack("<iiii", 0, 0, W, H) + struct.pack("<Iff", 1, 0, 0) + \
        struct.pack("<iiIII", 5, 5, len(text_w) // 2, 76, 0) + struct.pack("<iiii", 0, 0, 0, 0) + \
        struct.pack("<I", 0) + text_w
    case("emf-text-utf16", emf([e_select(NULL_PEN)] + e_fill(WHITE, (0, 0, W, H)) + [
        erec(18, struct.pack("<I", 1)), erec(82, struct.pack("<I", 2) + logfont), e_select(2),
        erec(84, ext)]), "emf", "ok",
         "EMR_EXTTEXTOUTW of 日本語テキスト in UTF-16 with the same font, height and place as "
         "wmf-text-sjis: the two draw the same pixels.", **e_sized)

    # ---- real files, kept as they are (see libreoffice-drawing.txt)
    CASES.append(("libreoffice-drawing.wmf", "ok", "9856x7210", "373x273", "-",
                  "LibreOffice 7.4 Draw's WMF export of libreoffice-drawing.svg."))
    CASES.append(("libreoffice-drawing.emf", "ok", "9855x7209", "375x273", "-",
                  "LibreOffice 7.4 Draw's EMF export of libreoffice-drawing.svg."))

    CASES.append(("inkscape-drawing.wmf", "ok", "10581x7935", "400x300", "-",
                  "Inkscape 1.2's WMF export of libreoffice-drawing.svg."))
    CASES.append(("inkscape-drawing.emf", "ok", "10599x7999", "5008x3779", "-",
                  "Inkscape 1.2's EMF export of libreoffice-drawing.svg (its reference device is fine-grained)."))

    with open(os.path.join(HERE, "cases.tsv"), "w") as f:
        f.write("# file\toutcome\tsize 0.01 mm\tsize px\texpected\tnote (written by make_corpus.py)\n")
        for row in CASES:
            f.write("\t".join(row) + "\n")


main()
