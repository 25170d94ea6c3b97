#include "picture/wmf_player.h"

#include "picture/gdi.h"
#include "picture/metafile_dc.h"
#include "picture/metafile_records.h"
#include "picture/metafile_text.h"

#include <QPainter>
#include <algorithm>
#include <functional>
#include <optional>

namespace sorowa::metafile {
namespace {

constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kHeaderObjectsAt = 10; // after type, header size, version, file size
// Every record starts with its size in 16-bit words and its function; the parameters follow.
constexpr std::size_t kRecordHeadSize = 6;
// The size of the bit masks after a BITMAPINFOHEADER of a bit-field bitmap.
constexpr std::uint64_t kBitfieldMasksSize = 12;
constexpr std::size_t kFaceNameBytes = 32;
// Most colours of the palettes that are collected.
constexpr qsizetype kMaxPaletteEntries = 256;

// The size of a blit record that names no bitmap.
std::size_t BitmapLessSize(std::uint16_t function) {
    return (std::size_t{function} >> 8) * 2 + kRecordHeadSize;
}

// Calls visit with every record (function, record bytes) up to the end record; false when
// a record does not fit in body.
bool WalkRecords(std::span<const std::uint8_t> body,
                 const std::function<void(std::uint16_t, const Record&)>& visit) {
    if (body.size() < kHeaderSize) return false;
    const Record header(body);
    FieldReader h(header, 0);
    const std::uint16_t type = h.U16();
    const std::uint16_t headerWords = h.U16();
    if ((type != meta::kMemoryMetafile && type != meta::kDiskMetafile) ||
        headerWords != meta::kHeaderWords)
        return false;
    std::size_t pos = kHeaderSize;
    while (pos < body.size()) {
        if (kRecordHeadSize > body.size() - pos) return false;
        const Record headBytes(body.subspan(pos, kRecordHeadSize));
        FieldReader head(headBytes, 0);
        const std::uint64_t bytes = std::uint64_t{head.U32()} * 2;
        if (bytes < kRecordHeadSize || bytes > body.size() - pos) return false;
        const std::uint16_t function = head.U16();
        if (function == meta::kEof) return true;
        if (visit) visit(function, Record(body.subspan(pos, static_cast<std::size_t>(bytes))));
        pos += static_cast<std::size_t>(bytes);
    }
    return true; // a body that ends without its end record plays what it has
}

// A record's 16-bit parameters, read in the order they are stored; most records keep a
// point's y before its x and a rectangle from the bottom right corner on.
class Params : public FieldReader {
public:
    explicit Params(const Record& r, std::size_t first = 0)
        : FieldReader(r, kRecordHeadSize + 2 * first) {}
    Params(const Record&& r, std::size_t first = 0) = delete;
    double Word() { return I16(); }
    QPointF PointYX() {
        const double y = I16();
        const double x = I16();
        return {x, y};
    }
    QPointF PointXY() {
        const double x = I16();
        const double y = I16();
        return {x, y};
    }
    QSizeF SizeYX() { // height, then width
        const double height = I16();
        const double width = I16();
        return {width, height};
    }
    QRectF RectBRTL() { // bottom, right, top, left
        const QPointF bottomRight = PointYX();
        const QPointF topLeft = PointYX();
        return {topLeft, bottomRight};
    }
    QRectF Extent() { // height, width, y, x
        const QSizeF size = SizeYX();
        const QPointF at = PointYX();
        return {at, size};
    }
    QRectF RectLTRB() { // left, top, right, bottom
        const QPointF topLeft = PointXY();
        const QPointF bottomRight = PointXY();
        return {topLeft, bottomRight};
    }
    QColor Color() { return ColorRef(U32()); }
};

std::size_t ParamCount(const Record& r) {
    return (r.Size() - kRecordHeadSize) / 2;
}

// count points (x, y) from parameter first on; none when they are not all there.
std::vector<QPointF> Points(const Record& r, std::size_t first, std::size_t count) {
    std::vector<QPointF> points;
    if (count > ParamCount(r) / 2 || first > ParamCount(r) - 2 * count) return points;
    points.reserve(count);
    Params p(r, first);
    for (std::size_t i = 0; i < count; ++i)
        points.push_back(p.PointXY());
    return points;
}

// The size of a DIB's header, bit masks and colour table; nullopt when its header is
// shorter than the smallest there is or longer than the DIB.
std::optional<std::uint64_t> DibInfoBytes(std::span<const std::uint8_t> dib) {
    const Record info(dib);
    const std::uint32_t headerSize = info.U32(0);
    if (headerSize < kBitmapCoreHeaderSize || headerSize > dib.size()) return std::nullopt;
    const bool core = headerSize == kBitmapCoreHeaderSize;
    // BITMAPCOREHEADER: size, width, height, planes, bit count (16-bit fields);
    // BITMAPINFOHEADER: size, width, height (32-bit), planes, bit count, compression, image
    // size, resolution, colours used.
    FieldReader f(info, 4);
    f.Skip(core ? 4 : 8); // width and height
    f.Skip(2);            // planes
    const std::uint32_t bits = f.U16();
    const std::uint32_t compression = f.U32();
    f.Skip(12); // image size, resolution
    std::uint64_t colors = core ? 0 : f.U32();
    if (colors == 0 && bits <= 8) colors = std::uint64_t{1} << bits;
    const std::uint64_t masks =
        headerSize == kBitmapInfoHeaderSize && compression == kBiBitfields ? kBitfieldMasksSize : 0;
    return headerSize + masks + colors * (core ? 3 : 4); // RGBTRIPLE or RGBQUAD entries
}

// Source rows count from the bottom of a bottom-up bitmap (one of positive height).
bool BottomUp(std::span<const std::uint8_t> dib) {
    const Record info(dib);
    const bool core = info.U32(0) == kBitmapCoreHeaderSize;
    FieldReader f(info, core ? 6 : 8); // after the size and the width
    return (core ? f.U16() : f.I32()) > 0;
}

struct Context {
    MetaDC& dc;
    int charset = kDefaultCharset; // of the selected font

    const QPainterPath* Region(std::size_t index) const {
        const GdiObject* o = dc.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Region ? &o->region : nullptr;
    }
    const LogBrush* Brush(std::size_t index) const {
        const GdiObject* o = dc.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Brush ? &o->brush : nullptr;
    }
};

using Handler = void (*)(Context&, const Record&);

// ---------------------------------------------------------------- state records

void SaveDC(Context& c, const Record&) {
    c.dc.SaveDC();
}

void RestoreDC(Context& c, const Record& r) {
    c.dc.RestoreDC(Params(r).I16());
}

template <void (MetaDC::*Set)(int)> void Mode(Context& c, const Record& r) {
    (c.dc.*Set)(Params(r).U16());
}

void SetTextAlign(Context& c, const Record& r) {
    c.dc.SetTextAlign(Params(r).U16());
}

void SetTextCharExtra(Context& c, const Record& r) {
    c.dc.SetTextCharExtra(Params(r).Word());
}

template <void (MetaDC::*Set)(QColor)> void Color(Context& c, const Record& r) {
    (c.dc.*Set)(Params(r).Color());
}

template <void (MetaDC::*Set)(QPointF)> void Point(Context& c, const Record& r) {
    (c.dc.*Set)(Params(r).PointYX());
}

template <void (MetaDC::*Set)(const QRectF&)> void Rect(Context& c, const Record& r) {
    (c.dc.*Set)(Params(r).RectBRTL());
}

// yDenom, yNum, xDenom, xNum.
template <void (MetaDC::*Scale)(double, double, double, double)>
void ScaleExt(Context& c, const Record& r) {
    Params p(r);
    const double yDen = p.Word();
    const double yNum = p.Word();
    const double xDen = p.Word();
    const double xNum = p.Word();
    (c.dc.*Scale)(xNum, xDen, yNum, yDen);
}

// ---------------------------------------------------------------- shapes

void RoundRect(Context& c, const Record& r) { // corner height, width, rectangle
    Params p(r);
    const QSizeF corner = p.SizeYX();
    c.dc.RoundRect(p.RectBRTL(), corner);
}

template <MetaDC::ArcKind kKind> void Arc(Context& c, const Record& r) { // end, start, box
    Params p(r);
    const QPointF end = p.PointYX();
    const QPointF start = p.PointYX();
    c.dc.ArcShape(kKind, p.RectBRTL(), start, end);
}

void SetPixel(Context& c, const Record& r) { // colour, point
    Params p(r);
    const QColor color = p.Color();
    c.dc.SetPixel(p.PointYX(), color);
}

// count, points.
template <void (MetaDC::*Draw)(const std::vector<QPointF>&)>
void Poly(Context& c, const Record& r) {
    (c.dc.*Draw)(Points(r, 1, Params(r).U16()));
}

// Number of polygons, each one's count, the points.
void PolyPolygon(Context& c, const Record& r) {
    Params counts(r);
    const std::size_t polygons = counts.U16();
    if (polygons > ParamCount(r)) return;
    std::size_t next = 1 + polygons;
    std::vector<std::vector<QPointF>> all;
    for (std::size_t i = 0; i < polygons; ++i) {
        const std::size_t count = counts.U16();
        std::vector<QPointF> points = Points(r, next, count);
        if (points.size() != count) return;
        all.push_back(std::move(points));
        next += 2 * count;
    }
    c.dc.PolyPolygon(all);
}

// ---------------------------------------------------------------- objects

void CreatePen(Context& c, const Record& r) { // LOGPEN16: style, width (x, y), colour
    Params p(r);
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    o.pen.style = p.U16();
    o.pen.width = p.Word();
    p.Skip(2); // the width's y, unused
    o.pen.color = p.Color();
    c.dc.AddObject(std::move(o));
}

void CreateBrush(Context& c, const Record& r) { // LOGBRUSH16: style, colour, hatch
    Params p(r);
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = p.U16();
    o.brush.color = p.Color();
    o.brush.hatch = p.U16();
    if (o.brush.style > kBsHatched) o.brush.style = kBsNull; // patterns need a bitmap
    c.dc.AddObject(std::move(o));
}

// LOGFONT16: height, width, escapement, orientation, weight, italic, underline,
// strike-out, charset, three precision and quality bytes, pitch and family, face name.
void CreateFont(Context& c, const Record& r) {
    Params p(r);
    GdiObject o;
    o.kind = GdiObject::Kind::Font;
    LogFont& f = o.font;
    f.height = p.Word();
    f.width = p.Word();
    f.escapement = p.I16();
    p.Skip(2); // orientation
    f.weight = p.I16();
    f.italic = p.U8() != 0;
    f.underline = p.U8() != 0;
    f.strikeOut = p.U8() != 0;
    f.charset = p.U8();
    p.Skip(4); // precisions, quality, pitch and family
    const std::span<const std::uint8_t> face = r.Tail(p.Offset());
    std::size_t length = 0;
    while (length < face.size() && length < kFaceNameBytes && face[length] != 0)
        ++length;
    f.face = DecodeText(face.first(length), f.charset);
    c.dc.AddObject(std::move(o));
}

void CreateDibPatternBrush(Context& c, const Record& r) { // style, usage, the DIB
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = kBsPattern;
    Params p(r);
    p.Skip(4); // style, usage
    const std::span<const std::uint8_t> dib = r.Tail(p.Offset());
    std::size_t infoBytes = dib.size();
    if (const std::optional<std::uint64_t> bytes = DibInfoBytes(dib))
        infoBytes = static_cast<std::size_t>(std::min<std::uint64_t>(dib.size(), *bytes));
    o.brush.pattern = DecodeDib(dib.first(infoBytes), dib.subspan(infoBytes));
    if (o.brush.pattern.isNull()) o.brush.style = kBsNull;
    c.dc.AddObject(std::move(o));
}

// The region object: next in chain, object type, object count, region size, scan count,
// largest scan, bounding box, then the scans: count, top, bottom, count / 2 pairs of left
// and right, count again.
void CreateRegion(Context& c, const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Region;
    Params p(r);
    p.Skip(10); // next in chain, object type, object count, region size
    const std::size_t scans = p.U16();
    p.Skip(2); // largest scan
    const QRectF box = p.RectLTRB();
    std::size_t at = p.Offset();
    for (std::size_t s = 0; s < scans && r.Has(at, 6); ++s) {
        FieldReader scan(r, at);
        const std::size_t count = scan.U16();
        const double top = scan.I16();
        const double bottom = scan.I16();
        for (std::size_t i = 0; i + 1 < count && r.Has(scan.Offset(), 4); i += 2) {
            const double left = scan.I16();
            const double right = scan.I16();
            o.region.addRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
        }
        at += 6 + 2 * count + 2;
    }
    if (scans == 0) o.region.addRect(box); // the bounding box alone
    c.dc.AddObject(std::move(o));
}

// Kept in the table so that later indices stay right.
template <GdiObject::Kind kKind> void Placeholder(Context& c, const Record&) {
    GdiObject o;
    o.kind = kKind;
    c.dc.AddObject(std::move(o));
}

void SelectObject(Context& c, const Record& r) {
    const std::uint16_t index = Params(r).U16();
    c.dc.SelectObject(index);
    const GdiObject* o = c.dc.Object(index);
    if (o != nullptr && o->kind == GdiObject::Kind::Font) c.charset = o->font.charset;
}

void DeleteObject(Context& c, const Record& r) {
    c.dc.DeleteObject(Params(r).U16());
}

// ---------------------------------------------------------------- regions

void SelectClipRegion(Context& c, const Record& r) {
    c.dc.SelectClipRegion(c.Region(Params(r).U16()), ClipMode::Copy, false);
}

template <void (MetaDC::*Draw)(const QPainterPath&, const LogBrush&, bool)>
void BrushRegion(Context& c, const Record& r) { // region, brush
    Params p(r);
    const QPainterPath* region = c.Region(p.U16());
    const LogBrush* brush = c.Brush(p.U16());
    if (region != nullptr && brush != nullptr) (c.dc.*Draw)(*region, *brush, false);
}

template <void (MetaDC::*Draw)(const QPainterPath&, bool)>
void Region(Context& c, const Record& r) {
    if (const QPainterPath* region = c.Region(Params(r).U16())) (c.dc.*Draw)(*region, false);
}

// ---------------------------------------------------------------- text

// The characters of a string from offset at on and, when the record has them, their
// advances (one per byte, stored after the string padded to a word).
void PlayText(Context& c, const Record& r, std::size_t at, std::size_t length, QPointF p,
              std::uint32_t options, const QRectF* rect, bool withAdvances) {
    const std::span<const std::uint8_t> bytes = r.Span(at, length);
    if (bytes.size() != length) return;
    std::vector<CharacterBytes> characters = DecodeCharacters(bytes, c.charset);
    std::vector<double> advances;
    const std::size_t dxAt = at + (length + 1) / 2 * 2;
    if (withAdvances && r.Has(dxAt, 2 * length)) {
        FieldReader dx(r, dxAt);
        for (const CharacterBytes& ch : characters) {
            double advance = 0;
            for (int i = 0; i < ch.bytes; ++i)
                advance += dx.I16();
            // A character beyond the basic plane takes two places in the text.
            advances.push_back(advance);
            if (ch.text.size() == 2) advances.push_back(0);
        }
    }
    QString text;
    for (const CharacterBytes& ch : characters)
        text += ch.text;
    c.dc.TextOut(p, text, options, rect, advances);
}

void TextOut(Context& c, const Record& r) { // length, the string (padded), y, x
    Params p(r);
    const std::size_t length = p.U16();
    const std::size_t at = p.Offset();
    p.Skip((length + 1) / 2 * 2);
    PlayText(c, r, at, length, p.PointYX(), 0, nullptr, false);
}

// y, x, length, options, the rectangle when the options ask for one, the string (padded),
// the advances.
void ExtTextOut(Context& c, const Record& r) {
    Params p(r);
    const QPointF reference = p.PointYX();
    const std::size_t length = p.U16();
    const std::uint32_t options = p.U16();
    const bool hasRect = (options & kEtoRectangle) != 0;
    QRectF rect;
    if (hasRect) rect = p.RectLTRB();
    PlayText(c, r, p.Offset(), length, reference, options, hasRect ? &rect : nullptr, true);
}

// ---------------------------------------------------------------- bitmaps

// A blit record's rectangles and where its DIB starts; no DIB for the bitmap-less forms.
struct BlitRects {
    QRectF dest;
    QRectF source;
    std::optional<std::size_t> dibAt;
};

void DrawBlit(Context& c, const Record& r, const BlitRects& b, std::uint32_t rop) {
    if (!b.dibAt) {
        c.dc.Blit(b.dest, QImage(), QRectF(), rop);
        return;
    }
    const std::span<const std::uint8_t> dib = r.Tail(*b.dibAt);
    const std::optional<std::uint64_t> infoBytes = DibInfoBytes(dib);
    if (!infoBytes || *infoBytes > dib.size()) return;
    const QImage image = DecodeDib(dib.first(static_cast<std::size_t>(*infoBytes)),
                                   dib.subspan(static_cast<std::size_t>(*infoBytes)));
    if (image.isNull()) return;
    QRectF source = b.source;
    if (BottomUp(dib)) source.moveTop(image.height() - source.top() - source.height());
    c.dc.Blit(b.dest, image, source, rop);
}

// rop, usage, source, destination, DIB.
void StretchDib(Context& c, const Record& r) {
    Params p(r);
    const std::uint32_t rop = p.U32();
    p.Skip(2); // usage
    const QRectF source = p.Extent();
    const QRectF dest = p.Extent();
    DrawBlit(c, r, {dest, source, p.Offset()}, rop);
}

// rop, source, destination, DIB; without the DIB a reserved word comes before the
// destination.
void DibStretchBlt(Context& c, const Record& r) {
    Params p(r);
    const std::uint32_t rop = p.U32();
    if (r.Size() == BitmapLessSize(meta::kDibStretchBlt)) {
        p.Skip(10); // the source, reserved
        DrawBlit(c, r, {p.Extent(), {}, std::nullopt}, rop);
        return;
    }
    const QRectF source = p.Extent();
    const QRectF dest = p.Extent();
    DrawBlit(c, r, {dest, source, p.Offset()}, rop);
}

// rop, source y, x, destination, DIB: source and destination share the size. Without the
// DIB a reserved word comes before the destination.
void DibBitBlt(Context& c, const Record& r) {
    Params p(r);
    const std::uint32_t rop = p.U32();
    if (r.Size() == BitmapLessSize(meta::kDibBitBlt)) {
        p.Skip(6); // source y, x, reserved
        DrawBlit(c, r, {p.Extent(), {}, std::nullopt}, rop);
        return;
    }
    const QPointF sourceAt = p.PointYX();
    const QRectF dest = p.Extent();
    DrawBlit(c, r, {dest, QRectF(sourceAt, dest.size()), p.Offset()}, rop);
}

// usage, scan count, first scan, source y, x, height, width, destination y, x, DIB;
// always a copy.
void SetDibToDev(Context& c, const Record& r) {
    Params p(r);
    p.Skip(6); // usage, scan count, first scan
    const QPointF sourceAt = p.PointYX();
    const QSizeF size = p.SizeYX();
    const QPointF destAt = p.PointYX();
    DrawBlit(c, r, {QRectF(destAt, size), QRectF(sourceAt, size), p.Offset()}, kSrcCopy);
}

void PatBlt(Context& c, const Record& r) { // rop, destination
    Params p(r);
    const std::uint32_t rop = p.U32();
    c.dc.Blit(p.Extent(), QImage(), QRectF(), rop);
}

// ---------------------------------------------------------------- the table

struct Entry {
    std::uint16_t function;
    Handler play;
};

// Sorted by function. Escapes, palettes and the functions not here draw nothing.
constexpr Entry kHandlers[] = {
    {meta::kSaveDC, SaveDC},
    {meta::kCreatePalette, Placeholder<GdiObject::Kind::Palette>},
    {meta::kSetBkMode, Mode<&MetaDC::SetBkMode>},
    {meta::kSetMapMode, Mode<&MetaDC::SetMapMode>},
    {meta::kSetRop2, Mode<&MetaDC::SetRop2>},
    {meta::kSetPolyFillMode, Mode<&MetaDC::SetPolyFillMode>},
    {meta::kSetStretchBltMode, Mode<&MetaDC::SetStretchMode>},
    {meta::kSetTextCharExtra, SetTextCharExtra},
    {meta::kRestoreDC, RestoreDC},
    {meta::kInvertRegion, Region<&MetaDC::InvertRegion>},
    {meta::kPaintRegion, Region<&MetaDC::PaintRegion>},
    {meta::kSelectClipRegion, SelectClipRegion},
    {meta::kSelectObject, SelectObject},
    {meta::kSetTextAlign, SetTextAlign},
    {meta::kDibCreatePatternBrush, CreateDibPatternBrush},
    {meta::kDeleteObject, DeleteObject},
    {meta::kCreatePatternBrush, Placeholder<GdiObject::Kind::Brush>},
    {meta::kSetBkColor, Color<&MetaDC::SetBkColor>},
    {meta::kSetTextColor, Color<&MetaDC::SetTextColor>},
    {meta::kSetWindowOrg, Point<&MetaDC::SetWindowOrg>},
    {meta::kSetWindowExt, Point<&MetaDC::SetWindowExt>},
    {meta::kSetViewportOrg, Point<&MetaDC::SetViewportOrg>},
    {meta::kSetViewportExt, Point<&MetaDC::SetViewportExt>},
    {meta::kOffsetWindowOrg, Point<&MetaDC::OffsetWindowOrg>},
    {meta::kOffsetViewportOrg, Point<&MetaDC::OffsetViewportOrg>},
    {meta::kLineTo, Point<&MetaDC::LineTo>},
    {meta::kMoveTo, Point<&MetaDC::MoveTo>},
    {meta::kOffsetClipRgn, Point<&MetaDC::OffsetClip>},
    {meta::kFillRegion, BrushRegion<&MetaDC::FillRegion>},
    {meta::kCreatePenIndirect, CreatePen},
    {meta::kCreateFontIndirect, CreateFont},
    {meta::kCreateBrushIndirect, CreateBrush},
    {meta::kPolygon, Poly<&MetaDC::Polygon>},
    {meta::kPolyline, Poly<&MetaDC::Polyline>},
    {meta::kScaleWindowExt, ScaleExt<&MetaDC::ScaleWindowExt>},
    {meta::kScaleViewportExt, ScaleExt<&MetaDC::ScaleViewportExt>},
    {meta::kExcludeClipRect, Rect<&MetaDC::ExcludeClipRect>},
    {meta::kIntersectClipRect, Rect<&MetaDC::IntersectClipRect>},
    {meta::kEllipse, Rect<&MetaDC::Ellipse>},
    {meta::kRectangle, Rect<&MetaDC::Rectangle>},
    {meta::kSetPixel, SetPixel},
    {meta::kFrameRegion, BrushRegion<&MetaDC::FrameRegion>},
    {meta::kTextOut, TextOut},
    {meta::kPolyPolygon, PolyPolygon},
    {meta::kRoundRect, RoundRect},
    {meta::kPatBlt, PatBlt},
    {meta::kCreateRegion, CreateRegion},
    {meta::kArc, Arc<MetaDC::ArcKind::Arc>},
    {meta::kPie, Arc<MetaDC::ArcKind::Pie>},
    {meta::kChord, Arc<MetaDC::ArcKind::Chord>},
    {meta::kDibBitBlt, DibBitBlt},
    {meta::kExtTextOut, ExtTextOut},
    {meta::kDibStretchBlt, DibStretchBlt},
    {meta::kSetDibToDev, SetDibToDev},
    {meta::kStretchDib, StretchDib},
};
static_assert(std::ranges::is_sorted(kHandlers, {}, &Entry::function));

void Play(Context& c, std::uint16_t function, const Record& r) {
    const auto* entry = std::ranges::lower_bound(kHandlers, function, {}, &Entry::function);
    if (entry != std::end(kHandlers) && entry->function == function) entry->play(c, r);
}

} // namespace

bool CheckWindowsMetafile(std::span<const std::uint8_t> body, WindowsMetafileFacts* facts) {
    WindowsMetafileFacts found;
    const bool ok = WalkRecords(body, [&](std::uint16_t function, const Record& r) {
        if (function != meta::kCreatePalette) return;
        Params p(r); // first entry, number of entries, the entries: red, green, blue, flags
        p.Skip(2);   // first entry
        const std::size_t count = p.U16();
        for (std::size_t i = 0;
             i < count && r.Has(p.Offset(), 4) && found.palette.size() < kMaxPaletteEntries; ++i) {
            const int red = p.U8();
            const int green = p.U8();
            const int blue = p.U8();
            p.Skip(1); // flags
            found.palette.append(qRgb(red, green, blue));
        }
    });
    if (!ok) return false;
    found.objects = Record(body).U16(kHeaderObjectsAt);
    if (facts) *facts = std::move(found);
    return true;
}

void PlayWindowsMetafile(std::span<const std::uint8_t> body, const QRectF& window,
                         QPainter& painter, const QRectF& target) {
    // Windows metafiles know no reference device; sizes in millimetres take the screen's.
    constexpr double kPixelsPerMm = 96 / 25.4;
    MetaDC dc(painter, target, QTransform(), Record(body).U16(kHeaderObjectsAt), kPixelsPerMm,
              kPixelsPerMm);
    dc.LockViewport(target.topLeft(), QPointF(target.width(), target.height()));
    dc.SetWindowOrg(window.topLeft());
    dc.SetWindowExt(QPointF(window.width() != 0 ? window.width() : 1,
                            window.height() != 0 ? window.height() : 1));
    Context context{dc};
    WalkRecords(body, [&](std::uint16_t function, const Record& r) { Play(context, function, r); });
}

} // namespace sorowa::metafile
