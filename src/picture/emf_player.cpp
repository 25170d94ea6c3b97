#include "picture/emf_player.h"

#include "picture/emf_records.h"
#include "picture/gdi.h"
#include "picture/metafile_dc.h"
#include "picture/metafile_records.h"
#include "picture/metafile_text.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>

namespace sorowa::metafile {
namespace {

using namespace emf;

constexpr std::size_t kHeaderFixedSize = 88;
// Shorter data is not taken for an enhanced metafile.
constexpr std::size_t kSniffSize = 100;
// The mapping a header without its reference device's size is played with.
constexpr double kDefaultPixelsPerMm = 96 / 25.4;
// The header's frame is in 0.01 mm.
constexpr double kFrameUnitsPerMm = 100;
// Most entries of an extended pen's user style that are kept.
constexpr std::size_t kMaxUserStyleEntries = 16;
// Most colours of the palette the end record carries.
constexpr std::size_t kMaxPaletteEntries = 256;

bool WalkRecords(std::span<const std::uint8_t> data,
                 const std::function<void(std::uint32_t, const Record&)>& visit) {
    std::size_t pos = 0;
    bool first = true;
    while (pos < data.size()) {
        if (kRecordHeadSize > data.size() - pos) return false;
        const Record headBytes(data.subspan(pos, kRecordHeadSize));
        FieldReader head(headBytes, 0);
        const std::uint32_t type = head.U32();
        const std::uint32_t size = head.U32();
        if (size < kRecordHeadSize || size > data.size() - pos) return false;
        if (first && (type != emr::kHeader || size < kHeaderFixedSize)) return false;
        first = false;
        const Record record(data.subspan(pos, size));
        if (visit) visit(type, record);
        if (type == emr::kEof) return true;
        pos += size;
    }
    return !first; // an end record may be missing; the header may not
}

// What playing keeps between records besides the device context.
struct Context {
    MetaDC& dc;
    int charset = kDefaultCharset; // of the selected font, for 8-bit text

    const LogBrush* Brush(std::uint32_t index) const {
        const GdiObject* o = dc.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Brush ? &o->brush : nullptr;
    }
};

using Handler = void (*)(Context&, const Record&);

// ---------------------------------------------------------------- state records

template <void (MetaDC::*Set)()> void Plain(Context& c, const Record&) {
    (c.dc.*Set)();
}

// Records of one mode or value (iMode and the like).
template <void (MetaDC::*Set)(int)> void Mode(Context& c, const Record& r) {
    (c.dc.*Set)(static_cast<int>(Fields(r).U32()));
}

template <void (MetaDC::*Set)(QColor)> void Color(Context& c, const Record& r) {
    (c.dc.*Set)(Fields(r).Color());
}

template <void (MetaDC::*Set)(QPointF)> void Point(Context& c, const Record& r) {
    (c.dc.*Set)(Fields(r).PointL());
}

template <void (MetaDC::*Set)(const QRectF&)> void Rect(Context& c, const Record& r) {
    (c.dc.*Set)(Fields(r).RectL());
}

// xNum, xDenom, yNum, yDenom.
template <void (MetaDC::*Scale)(double, double, double, double)>
void ScaleExt(Context& c, const Record& r) {
    Fields f(r);
    const double xNum = f.I32();
    const double xDen = f.I32();
    const double yNum = f.I32();
    const double yDen = f.I32();
    (c.dc.*Scale)(xNum, xDen, yNum, yDen);
}

void SetTextAlign(Context& c, const Record& r) {
    c.dc.SetTextAlign(Fields(r).U32());
}

void RestoreDC(Context& c, const Record& r) {
    c.dc.RestoreDC(Fields(r).I32());
}

void SetWorldTransform(Context& c, const Record& r) {
    c.dc.SetWorldTransform(Fields(r).Xform());
}

void ModifyWorldTransform(Context& c, const Record& r) { // xform, iMode
    Fields f(r);
    const QTransform t = f.Xform();
    c.dc.ModifyWorldTransform(t, static_cast<int>(f.U32()));
}

void SetPixel(Context& c, const Record& r) { // ptlPixel, crColor
    Fields f(r);
    const QPointF p = f.PointL();
    c.dc.SetPixel(p, f.Color());
}

// ---------------------------------------------------------------- objects

void SelectObject(Context& c, const Record& r) {
    const std::uint32_t index = Fields(r).U32();
    if ((index & kStockObjectFlag) != 0) {
        const std::uint32_t stock = index & ~kStockObjectFlag;
        c.dc.SelectStockObject(stock);
        if (stock >= kOemFixedFont && stock <= kDefaultGuiFont) c.charset = kDefaultCharset;
        return;
    }
    c.dc.SelectObject(index);
    const GdiObject* o = c.dc.Object(index);
    if (o != nullptr && o->kind == GdiObject::Kind::Font) c.charset = o->font.charset;
}

void DeleteObject(Context& c, const Record& r) {
    c.dc.DeleteObject(Fields(r).U32());
}

void CreatePen(Context& c, const Record& r) { // ihPen, LOGPEN: style, width (x, y), colour
    Fields f(r);
    const std::uint32_t slot = f.U32();
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    o.pen.style = f.U32();
    o.pen.width = f.I32();
    f.Skip(4); // the width's y, unused
    o.pen.color = f.Color();
    c.dc.PutObject(slot, std::move(o));
}

// ihPen, the brush bitmap (unused), then EXTLOGPEN: style, width, brush style, colour,
// hatch, the number of style entries and the entries.
void ExtCreatePen(Context& c, const Record& r) {
    Fields f(r);
    const std::uint32_t slot = f.U32();
    DibRef::Read(f);
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    o.pen.style = f.U32();
    o.pen.width = f.U32();
    const std::uint32_t brushStyle = f.U32();
    o.pen.color = f.Color();
    f.Skip(4); // hatch
    const std::size_t entries = f.U32();
    if (brushStyle == kBsNull) o.pen.style = (o.pen.style & ~kPsStyleMask) | kPsNull;
    for (std::size_t i = 0; i < entries && i < kMaxUserStyleEntries && r.Has(f.Offset(), 4); ++i)
        o.pen.dashes.push_back(f.U32());
    c.dc.PutObject(slot, std::move(o));
}

void CreateBrush(Context& c, const Record& r) { // ihBrush, LOGBRUSH: style, colour, hatch
    Fields f(r);
    const std::uint32_t slot = f.U32();
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = f.U32();
    o.brush.color = f.Color();
    o.brush.hatch = f.U32();
    if (o.brush.style > kBsHatched) o.brush.style = kBsNull; // a pattern needs a bitmap
    c.dc.PutObject(slot, std::move(o));
}

void CreatePatternBrush(Context& c, const Record& r) {
    const PatternBrushRecord b = PatternBrushRecord::Read(r);
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = kBsPattern;
    o.brush.pattern = Dib(r, b.dib);
    if (o.brush.pattern.isNull()) o.brush.style = kBsNull;
    c.dc.PutObject(b.slot, std::move(o));
}

// The same layout as a DIB pattern brush; a 1-bit pattern ignores its colour table (often
// there is none: usage DIB_PAL_INDICES) and is drawn in the text and background colours.
// (tests/data/metafile/emf-mono-brush.emf)
void CreateMonoBrush(Context& c, const Record& r) {
    const PatternBrushRecord b = PatternBrushRecord::Read(r);
    QImage bits = DecodeMonoDib(r.Span(b.dib.offInfo, b.dib.infoBytes),
                                r.Span(b.dib.offBits, b.dib.bitsBytes));
    if (bits.isNull()) {
        CreatePatternBrush(c, r);
        return;
    }
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = kBsPattern;
    o.brush.pattern = std::move(bits);
    o.brush.monochrome = true;
    c.dc.PutObject(b.slot, std::move(o));
}

// ihFont, LOGFONTW: height, width, escapement, orientation, weight, italic, underline,
// strike-out, charset, three precision and quality bytes, pitch and family, face name.
void CreateFont(Context& c, const Record& r) {
    Fields f(r);
    const std::uint32_t slot = f.U32();
    GdiObject o;
    o.kind = GdiObject::Kind::Font;
    LogFont& font = o.font;
    font.height = f.I32();
    font.width = f.I32();
    font.escapement = f.I32();
    f.Skip(4); // orientation
    font.weight = f.I32();
    font.italic = f.U8() != 0;
    font.underline = f.U8() != 0;
    font.strikeOut = f.U8() != 0;
    font.charset = f.U8();
    f.Skip(4); // precisions, quality, pitch and family
    for (std::size_t i = 0; i < kFaceNameChars; ++i) {
        const std::uint16_t ch = f.U16();
        if (ch == 0) break;
        font.face += QChar(ch);
    }
    c.dc.PutObject(slot, std::move(o));
}

void CreatePalette(Context& c, const Record& r) { // kept so that the slot is taken
    GdiObject o;
    o.kind = GdiObject::Kind::Palette;
    c.dc.PutObject(Fields(r).U32(), std::move(o));
}

// ---------------------------------------------------------------- shapes

// bounds, count, points.
template <void (MetaDC::*Draw)(const std::vector<QPointF>&), bool kSmall>
void Poly(Context& c, const Record& r) {
    Fields f(r);
    f.SkipBounds();
    const std::uint32_t count = f.U32();
    const std::vector<QPointF> points = Points(r, f.Offset(), count, kSmall);
    if (points.size() != count) return;
    (c.dc.*Draw)(points);
}

// bounds, the number of figures, the number of points, each figure's count, the points.
template <void (MetaDC::*Draw)(const std::vector<std::vector<QPointF>>&), bool kSmall>
void PolyPoly(Context& c, const Record& r) {
    Fields f(r);
    f.SkipBounds();
    const std::size_t polys = f.U32();
    const std::size_t total = f.U32();
    const std::size_t countsAt = f.Offset();
    // Every polygon has its count in the record (tests/data/metafile/emf-polypolygon-short.emf).
    if (r.Size() < countsAt || polys > (r.Size() - countsAt) / 4) return;
    const std::vector<QPointF> points = Points(r, countsAt + 4 * polys, total, kSmall);
    if (points.size() != total) return;
    std::vector<std::vector<QPointF>> all;
    std::size_t next = 0;
    for (std::size_t i = 0; i < polys; ++i) {
        const std::size_t count = f.U32();
        if (count > total - next) return;
        all.emplace_back(points.begin() + static_cast<std::ptrdiff_t>(next),
                         points.begin() + static_cast<std::ptrdiff_t>(next + count));
        next += count;
    }
    (c.dc.*Draw)(all);
}

void RoundRect(Context& c, const Record& r) { // box, corner
    Fields f(r);
    const QRectF box = f.RectL();
    c.dc.RoundRect(box, f.SizeL());
}

template <MetaDC::ArcKind kKind> void Arc(Context& c, const Record& r) { // box, start, end
    Fields f(r);
    const QRectF box = f.RectL();
    const QPointF start = f.PointL();
    const QPointF end = f.PointL();
    c.dc.ArcShape(kKind, box, start, end);
}

void AngleArc(Context& c, const Record& r) { // centre, radius, start angle, sweep
    Fields f(r);
    const QPointF center = f.PointL();
    const double radius = f.U32();
    const double start = f.F32();
    const double sweep = f.F32();
    c.dc.AngleArc(center, radius, start, sweep);
}

// ---------------------------------------------------------------- clipping and regions

bool ReadClipMode(std::uint32_t value, ClipMode* mode) {
    if (value < kFirstClipMode || value > kLastClipMode) return false;
    *mode = static_cast<ClipMode>(value);
    return true;
}

void SelectClipPath(Context& c, const Record& r) {
    ClipMode mode;
    if (ReadClipMode(Fields(r).U32(), &mode)) c.dc.SelectClipPath(mode);
}

void ExtSelectClipRgn(Context& c, const Record& r) { // cbRgnData, iMode, region
    Fields f(r);
    const std::uint32_t bytes = f.U32();
    ClipMode mode;
    if (!ReadClipMode(f.U32(), &mode)) return;
    if (bytes == 0) {
        c.dc.SelectClipRegion(nullptr, mode, true);
        return;
    }
    if (!r.Has(f.Offset(), bytes)) return;
    const QPainterPath region = RegionPath(r, f.Offset(), bytes);
    c.dc.SelectClipRegion(&region, mode, true);
}

void FillRgn(Context& c, const Record& r) { // bounds, cbRgnData, ihBrush, region
    Fields f(r);
    f.SkipBounds();
    const std::uint32_t bytes = f.U32();
    const LogBrush* brush = c.Brush(f.U32());
    if (brush == nullptr || !r.Has(f.Offset(), bytes)) return;
    c.dc.FillRegion(RegionPath(r, f.Offset(), bytes), *brush, true);
}

void FrameRgn(Context& c, const Record& r) { // bounds, cbRgnData, ihBrush, frame size, region
    Fields f(r);
    f.SkipBounds();
    const std::uint32_t bytes = f.U32();
    const LogBrush* brush = c.Brush(f.U32());
    f.SizeL();
    if (brush == nullptr || !r.Has(f.Offset(), bytes)) return;
    c.dc.FrameRegion(RegionPath(r, f.Offset(), bytes), *brush, true);
}

template <void (MetaDC::*Draw)(const QPainterPath&, bool)>
void Rgn(Context& c, const Record& r) { // bounds, cbRgnData, region
    Fields f(r);
    f.SkipBounds();
    const std::uint32_t bytes = f.U32();
    if (!r.Has(f.Offset(), bytes)) return;
    (c.dc.*Draw)(RegionPath(r, f.Offset(), bytes), true);
}

// ---------------------------------------------------------------- text

template <bool kWide> void ExtTextOut(Context& c, const Record& r) {
    const TextRecord t = TextRecord::Read(r);
    if (t.count > r.Size()) return;
    const std::size_t byteCount = kWide ? 2 * t.count : t.count;
    const std::span<const std::uint8_t> bytes = r.Span(t.offString, byteCount);
    if (bytes.size() != byteCount) return;
    QString text;
    std::vector<int> units; // bytes of the text that each character took
    if (kWide) {
        for (std::size_t i = 0; i < t.count; ++i)
            text += QChar(static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    } else {
        for (const CharacterBytes& ch : DecodeCharacters(bytes, c.charset)) {
            text += ch.text;
            units.push_back(ch.bytes);
        }
    }
    std::vector<double> advances;
    if (t.offDx != 0 && r.Has(t.offDx, 4 * t.count)) {
        Fields dx(r, t.offDx);
        if (kWide) {
            for (std::size_t i = 0; i < t.count; ++i)
                advances.push_back(dx.I32());
        } else {
            for (const int n : units) { // one advance per byte; a character takes the sum
                double a = 0;
                for (int i = 0; i < n; ++i)
                    a += dx.I32();
                advances.push_back(a);
            }
        }
    }
    const bool hasRect = (t.options & kEtoRectangle) != 0;
    c.dc.TextOut(t.reference, text, t.options, hasRect ? &t.rect : nullptr, advances);
}

// ---------------------------------------------------------------- bitmaps

void StretchDiBits(Context& c, const Record& r) {
    const DibBitsRecord d = DibBitsRecord::Read(r);
    const QImage image = Dib(r, d.dib);
    if (image.isNull()) return;
    c.dc.Blit(QRectF(d.dest, d.destSize), image, FromTop(r, d.dib, image, d.source), d.rop);
}

void SetDiBitsToDevice(Context& c, const Record& r) { // drawn at the source's size
    const DibBitsRecord d = DibBitsRecord::Read(r);
    const QImage image = Dib(r, d.dib);
    if (image.isNull()) return;
    c.dc.Blit(QRectF(d.dest, d.source.size()), image, FromTop(r, d.dib, image, d.source), kSrcCopy);
}

template <std::uint32_t kType> void Blt(Context& c, const Record& r) {
    const BltRecord b = BltRecord::Read(r);
    const bool alpha = kType == emr::kAlphaBlend;
    // An alpha blend keeps its blend function where the others keep the operation.
    const bool perPixelAlpha = (b.rop >> kBlendSourceAlphaShift & 1) != 0;
    const QImage image = b.dib.infoBytes == 0 ? QImage() : Dib(r, b.dib, alpha && perPixelAlpha);
    QRectF source(b.sourceAt, b.dest.size());
    if (kType != emr::kBitBlt) source.setSize(b.sourceSize);
    if (!image.isNull()) source = FromTop(r, b.dib, image, source);
    if (alpha)
        c.dc.AlphaBlit(b.dest, image, source,
                       static_cast<int>(b.rop >> kBlendConstantAlphaShift & 0xFF), perPixelAlpha);
    else
        c.dc.Blit(b.dest, image, source, b.rop);
}

// ---------------------------------------------------------------- the table

struct Entry {
    std::uint32_t type;
    Handler play;
};

// Sorted by type. Comments (and the records in them), palettes and the types not here
// draw nothing.
constexpr Entry kHandlers[] = {
    {emr::kPolyBezier, Poly<&MetaDC::PolyBezier, false>},
    {emr::kPolygon, Poly<&MetaDC::Polygon, false>},
    {emr::kPolyline, Poly<&MetaDC::Polyline, false>},
    {emr::kPolyBezierTo, Poly<&MetaDC::PolyBezierTo, false>},
    {emr::kPolylineTo, Poly<&MetaDC::PolylineTo, false>},
    {emr::kPolyPolyline, PolyPoly<&MetaDC::PolyPolyline, false>},
    {emr::kPolyPolygon, PolyPoly<&MetaDC::PolyPolygon, false>},
    {emr::kSetWindowExtEx, Point<&MetaDC::SetWindowExt>},
    {emr::kSetWindowOrgEx, Point<&MetaDC::SetWindowOrg>},
    {emr::kSetViewportExtEx, Point<&MetaDC::SetViewportExt>},
    {emr::kSetViewportOrgEx, Point<&MetaDC::SetViewportOrg>},
    {emr::kSetPixelV, SetPixel},
    {emr::kSetMapMode, Mode<&MetaDC::SetMapMode>},
    {emr::kSetBkMode, Mode<&MetaDC::SetBkMode>},
    {emr::kSetPolyFillMode, Mode<&MetaDC::SetPolyFillMode>},
    {emr::kSetRop2, Mode<&MetaDC::SetRop2>},
    {emr::kSetStretchBltMode, Mode<&MetaDC::SetStretchMode>},
    {emr::kSetTextAlign, SetTextAlign},
    {emr::kSetTextColor, Color<&MetaDC::SetTextColor>},
    {emr::kSetBkColor, Color<&MetaDC::SetBkColor>},
    {emr::kOffsetClipRgn, Point<&MetaDC::OffsetClip>},
    {emr::kMoveToEx, Point<&MetaDC::MoveTo>},
    {emr::kExcludeClipRect, Rect<&MetaDC::ExcludeClipRect>},
    {emr::kIntersectClipRect, Rect<&MetaDC::IntersectClipRect>},
    {emr::kScaleViewportExtEx, ScaleExt<&MetaDC::ScaleViewportExt>},
    {emr::kScaleWindowExtEx, ScaleExt<&MetaDC::ScaleWindowExt>},
    {emr::kSaveDC, Plain<&MetaDC::SaveDC>},
    {emr::kRestoreDC, RestoreDC},
    {emr::kSetWorldTransform, SetWorldTransform},
    {emr::kModifyWorldTransform, ModifyWorldTransform},
    {emr::kSelectObject, SelectObject},
    {emr::kCreatePen, CreatePen},
    {emr::kCreateBrushIndirect, CreateBrush},
    {emr::kDeleteObject, DeleteObject},
    {emr::kAngleArc, AngleArc},
    {emr::kEllipse, Rect<&MetaDC::Ellipse>},
    {emr::kRectangle, Rect<&MetaDC::Rectangle>},
    {emr::kRoundRect, RoundRect},
    {emr::kArc, Arc<MetaDC::ArcKind::Arc>},
    {emr::kChord, Arc<MetaDC::ArcKind::Chord>},
    {emr::kPie, Arc<MetaDC::ArcKind::Pie>},
    {emr::kCreatePalette, CreatePalette},
    {emr::kLineTo, Point<&MetaDC::LineTo>},
    {emr::kArcTo, Arc<MetaDC::ArcKind::ArcTo>},
    {emr::kSetArcDirection, Mode<&MetaDC::SetArcDirection>},
    {emr::kBeginPath, Plain<&MetaDC::BeginPath>},
    {emr::kEndPath, Plain<&MetaDC::EndPath>},
    {emr::kCloseFigure, Plain<&MetaDC::CloseFigure>},
    {emr::kFillPath, Plain<&MetaDC::FillPath>},
    {emr::kStrokeAndFillPath, Plain<&MetaDC::StrokeAndFillPath>},
    {emr::kStrokePath, Plain<&MetaDC::StrokePath>},
    {emr::kSelectClipPath, SelectClipPath},
    {emr::kAbortPath, Plain<&MetaDC::AbortPath>},
    {emr::kFillRgn, FillRgn},
    {emr::kFrameRgn, FrameRgn},
    {emr::kInvertRgn, Rgn<&MetaDC::InvertRegion>},
    {emr::kPaintRgn, Rgn<&MetaDC::PaintRegion>},
    {emr::kExtSelectClipRgn, ExtSelectClipRgn},
    {emr::kBitBlt, Blt<emr::kBitBlt>},
    {emr::kStretchBlt, Blt<emr::kStretchBlt>},
    {emr::kSetDiBitsToDevice, SetDiBitsToDevice},
    {emr::kStretchDiBits, StretchDiBits},
    {emr::kExtCreateFontIndirectW, CreateFont},
    {emr::kExtTextOutA, ExtTextOut<false>},
    {emr::kExtTextOutW, ExtTextOut<true>},
    {emr::kPolyBezier16, Poly<&MetaDC::PolyBezier, true>},
    {emr::kPolygon16, Poly<&MetaDC::Polygon, true>},
    {emr::kPolyline16, Poly<&MetaDC::Polyline, true>},
    {emr::kPolyBezierTo16, Poly<&MetaDC::PolyBezierTo, true>},
    {emr::kPolylineTo16, Poly<&MetaDC::PolylineTo, true>},
    {emr::kPolyPolyline16, PolyPoly<&MetaDC::PolyPolyline, true>},
    {emr::kPolyPolygon16, PolyPoly<&MetaDC::PolyPolygon, true>},
    {emr::kCreateMonoBrush, CreateMonoBrush},
    {emr::kCreateDibPatternBrushPt, CreatePatternBrush},
    {emr::kExtCreatePen, ExtCreatePen},
    {emr::kAlphaBlend, Blt<emr::kAlphaBlend>},
};
static_assert(std::ranges::is_sorted(kHandlers, {}, &Entry::type));

void Play(Context& c, std::uint32_t type, const Record& r) {
    const auto* entry = std::ranges::lower_bound(kHandlers, type, {}, &Entry::type);
    if (entry != std::end(kHandlers) && entry->type == type) entry->play(c, r);
}

} // namespace

bool LooksEnhanced(std::span<const std::uint8_t> data) {
    const Record r(data);
    FieldReader f(r, 0);
    const std::uint32_t type = f.U32();
    f.Skip(4 + 2 * kBoundsSize); // size, bounds, frame
    return data.size() > kSniffSize && type == emr::kHeader && f.U32() == emr::kSignature;
}

// type, size, bounds, frame, signature, version, bytes, records, handles, reserved,
// description length and offset, palette entries, device size in pixels and millimetres.
std::optional<EnhancedHeader> ReadEnhancedHeader(std::span<const std::uint8_t> data) {
    if (data.size() < kHeaderFixedSize) return std::nullopt;
    const Record r(data);
    FieldReader f(r, kRecordHeadSize);
    const auto rect = [&f] {
        const int left = f.I32();
        const int top = f.I32();
        const int right = f.I32();
        const int bottom = f.I32();
        return QRect(QPoint(left, top), QPoint(right, bottom));
    };
    const auto size = [&f] {
        const int cx = f.I32();
        const int cy = f.I32();
        return QSize(cx, cy);
    };
    EnhancedHeader h;
    h.bounds = rect();
    h.frame = rect();
    f.Skip(8); // signature, version
    h.bytes = f.U32();
    h.records = f.U32();
    h.handles = f.U16();
    f.Skip(2 + 8); // reserved, description length and offset
    h.paletteEntries = f.U32();
    h.devicePixels = size();
    h.deviceMillimetres = size();
    return h;
}

bool CheckEnhancedMetafile(std::span<const std::uint8_t> data, QList<QRgb>* palette) {
    QList<QRgb> found;
    const bool ok = WalkRecords(data, [&](std::uint32_t type, const Record& r) {
        if (type != emr::kEof) return;
        Fields f(r); // nPalEntries, offPalEntries
        const std::size_t count = f.U32();
        FieldReader entry(r, f.U32()); // red, green, blue, flags
        for (std::size_t i = 0; i < count && i < kMaxPaletteEntries && r.Has(entry.Offset(), 4);
             ++i) {
            const int red = entry.U8();
            const int green = entry.U8();
            const int blue = entry.U8();
            entry.Skip(1); // flags
            found.append(qRgb(red, green, blue));
        }
    });
    if (!ok || !LooksEnhanced(data)) return false;
    if (palette) *palette = std::move(found);
    return true;
}

void PlayEnhancedMetafile(std::span<const std::uint8_t> data, QPainter& painter,
                          const QRectF& target) {
    const std::optional<EnhancedHeader> h = ReadEnhancedHeader(data);
    if (!h) return;
    // The frame in the reference device's pixels is what fills the target.
    double ppmX = kDefaultPixelsPerMm;
    double ppmY = kDefaultPixelsPerMm;
    if (h->deviceMillimetres.width() > 0 && h->devicePixels.width() > 0)
        ppmX = double(h->devicePixels.width()) / h->deviceMillimetres.width();
    if (h->deviceMillimetres.height() > 0 && h->devicePixels.height() > 0)
        ppmY = double(h->devicePixels.height()) / h->deviceMillimetres.height();
    QRectF frame(QPointF(h->frame.left() * ppmX / kFrameUnitsPerMm,
                         h->frame.top() * ppmY / kFrameUnitsPerMm),
                 QPointF(double(h->frame.right()) * ppmX / kFrameUnitsPerMm,
                         double(h->frame.bottom()) * ppmY / kFrameUnitsPerMm));
    if (frame.width() <= 0 || frame.height() <= 0)
        frame = QRectF(QPointF(h->bounds.left(), h->bounds.top()),
                       QPointF(h->bounds.right(), h->bounds.bottom()));
    const double sx = frame.width() > 0 ? target.width() / frame.width() : 1;
    const double sy = frame.height() > 0 ? target.height() / frame.height() : 1;
    const QTransform deviceToTarget(sx, 0, 0, sy, target.left() - frame.left() * sx,
                                    target.top() - frame.top() * sy);
    MetaDC dc(painter, target, deviceToTarget, h->handles, ppmX, ppmY);
    Context context{dc};
    WalkRecords(data, [&](std::uint32_t type, const Record& r) { Play(context, type, r); });
}

} // namespace sorowa::metafile
