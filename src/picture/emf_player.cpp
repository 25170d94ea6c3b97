#include "picture/emf_player.h"

#include "picture/metafile_dc.h"
#include "picture/metafile_records.h"
#include "picture/metafile_text.h"

#include <QPainter>
#include <cmath>
#include <functional>

namespace sorowa::metafile {
namespace {

constexpr std::size_t kHeaderFixedSize = 88;
constexpr std::uint32_t kSignature = 0x464D4520; // " EMF"
constexpr std::uint32_t kStockObject = 0x80000000u;

enum Type : std::uint32_t {
    kHeader = 1,
    kPolyBezier = 2,
    kPolygon = 3,
    kPolyline = 4,
    kPolyBezierTo = 5,
    kPolylineTo = 6,
    kPolyPolyline = 7,
    kPolyPolygon = 8,
    kSetWindowExtEx = 9,
    kSetWindowOrgEx = 10,
    kSetViewportExtEx = 11,
    kSetViewportOrgEx = 12,
    kEof = 14,
    kSetPixelV = 15,
    kSetMapMode = 17,
    kSetBkMode = 18,
    kSetPolyFillMode = 19,
    kSetRop2 = 20,
    kSetStretchBltMode = 21,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kSetBkColor = 25,
    kOffsetClipRgn = 26,
    kMoveToEx = 27,
    kExcludeClipRect = 29,
    kIntersectClipRect = 30,
    kScaleViewportExtEx = 31,
    kScaleWindowExtEx = 32,
    kSaveDC = 33,
    kRestoreDC = 34,
    kSetWorldTransform = 35,
    kModifyWorldTransform = 36,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrushIndirect = 39,
    kDeleteObject = 40,
    kAngleArc = 41,
    kEllipse = 42,
    kRectangle = 43,
    kRoundRect = 44,
    kArc = 45,
    kChord = 46,
    kPie = 47,
    kCreatePalette = 49,
    kLineTo = 54,
    kArcTo = 55,
    kSetArcDirection = 57,
    kBeginPath = 59,
    kEndPath = 60,
    kCloseFigure = 61,
    kFillPath = 62,
    kStrokeAndFillPath = 63,
    kStrokePath = 64,
    kSelectClipPath = 67,
    kAbortPath = 68,
    kFillRgn = 71,
    kFrameRgn = 72,
    kInvertRgn = 73,
    kPaintRgn = 74,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchBlt = 77,
    kSetDiBitsToDevice = 80,
    kStretchDiBits = 81,
    kExtCreateFontIndirectW = 82,
    kExtTextOutA = 83,
    kExtTextOutW = 84,
    kPolyBezier16 = 85,
    kPolygon16 = 86,
    kPolyline16 = 87,
    kPolyBezierTo16 = 88,
    kPolylineTo16 = 89,
    kPolyPolyline16 = 90,
    kPolyPolygon16 = 91,
    kCreateMonoBrush = 93,
    kCreateDibPatternBrushPt = 94,
    kExtCreatePen = 95,
    kSetTextJustification = 120,
    kAlphaBlend = 114,
};

bool WalkRecords(std::span<const std::uint8_t> data,
                 const std::function<void(std::uint32_t, const Record&)>& visit) {
    std::size_t pos = 0;
    bool first = true;
    while (pos < data.size()) {
        if (8 > data.size() - pos) return false;
        const Record head(data.subspan(pos, 8));
        const std::uint32_t type = head.U32(0);
        const std::uint32_t size = head.U32(4);
        if (size < 8 || size > data.size() - pos) return false;
        if (first && (type != kHeader || size < kHeaderFixedSize)) return false;
        first = false;
        const Record record(data.subspan(pos, size));
        if (visit) visit(type, record);
        if (type == kEof) return true;
        pos += size;
    }
    return !first; // an end record may be missing; the header may not
}

QRectF RectL(const Record& r, std::size_t at) {
    return QRectF(QPointF(r.I32(at), r.I32(at + 4)), QPointF(r.I32(at + 8), r.I32(at + 12)));
}

QPainterPath RegionPath(const Record& r, std::size_t at, std::size_t bytes) {
    QPainterPath path;
    const std::size_t count = r.U32(at + 8);
    const std::size_t headerSize = r.U32(at);
    if (headerSize < 32 || headerSize > bytes) return path;
    const std::size_t rects = at + headerSize;
    for (std::size_t i = 0;
         i < count && 16 * (i + 1) <= bytes - headerSize && r.Has(rects + 16 * i, 16); ++i)
        path.addRect(RectL(r, rects + 16 * i));
    return path;
}

class Player {
public:
    explicit Player(MetaDC& dc) : dc_(dc) {}
    void Play(std::uint32_t type, const Record& r);

private:
    QPointF PointL(const Record& r, std::size_t at) const {
        return {double(r.I32(at)), double(r.I32(at + 4))};
    }
    std::vector<QPointF> Points(const Record& r, std::size_t at, std::size_t count,
                                bool small) const {
        std::vector<QPointF> points;
        const std::size_t size = small ? 4 : 8;
        if (at > r.Size() || count > (r.Size() - at) / size) return points;
        points.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t p = at + i * size;
            points.push_back(small ? QPointF(r.I16(p), r.I16(p + 2)) : PointL(r, p));
        }
        return points;
    }
    void Poly(std::uint32_t type, const Record& r, bool small);
    void PolyPoly(std::uint32_t type, const Record& r, bool small);
    void CreatePen(const Record& r, bool extended);
    void CreateBrush(const Record& r);
    void CreatePatternBrush(const Record& r);
    void CreateMonoBrush(const Record& r);
    void CreateFont(const Record& r);
    void Text(const Record& r, bool wide);
    void Bitmap(std::uint32_t type, const Record& r);
    QImage Dib(const Record& r, std::size_t offInfo, std::size_t cbInfo, std::size_t offBits,
               std::size_t cbBits, bool withAlpha = false) const {
        const auto info = r.Span(r.U32(offInfo), r.U32(cbInfo));
        const auto bits = r.Span(r.U32(offBits), r.U32(cbBits));
        if (info.empty() || (bits.empty() && r.U32(cbBits) != 0)) return {};
        return DecodeDib(info, bits, withAlpha);
    }
    const LogBrush* Brush(std::uint32_t index) const {
        const GdiObject* o = dc_.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Brush ? &o->brush : nullptr;
    }

    MetaDC& dc_;
    int charset_ = kDefaultCharset;
};

void Player::Poly(std::uint32_t type, const Record& r, bool small) {
    const std::vector<QPointF> points = Points(r, 28, r.U32(24), small);
    if (points.size() != r.U32(24)) return;
    switch (type) {
    case kPolyBezier:
    case kPolyBezier16:
        dc_.PolyBezier(points);
        break;
    case kPolygon:
    case kPolygon16:
        dc_.Polygon(points);
        break;
    case kPolyline:
    case kPolyline16:
        dc_.Polyline(points);
        break;
    case kPolyBezierTo:
    case kPolyBezierTo16:
        dc_.PolyBezierTo(points);
        break;
    default:
        dc_.PolylineTo(points);
        break;
    }
}

void Player::PolyPoly(std::uint32_t type, const Record& r, bool small) {
    const std::size_t polys = r.U32(24);
    const std::size_t total = r.U32(28);
    // Every polygon has its count in the record (tests/data/metafile/emf-polypolygon-short.emf).
    if (r.Size() < 32 || polys > (r.Size() - 32) / 4) return;
    const std::vector<QPointF> points = Points(r, 32 + 4 * polys, total, small);
    if (points.size() != total) return;
    std::vector<std::vector<QPointF>> all;
    std::size_t next = 0;
    for (std::size_t i = 0; i < polys; ++i) {
        const std::size_t count = r.U32(32 + 4 * i);
        if (count > total - next) return;
        all.emplace_back(points.begin() + static_cast<std::ptrdiff_t>(next),
                         points.begin() + static_cast<std::ptrdiff_t>(next + count));
        next += count;
    }
    if (type == kPolyPolygon || type == kPolyPolygon16)
        dc_.PolyPolygon(all);
    else
        dc_.PolyPolyline(all);
}

void Player::CreatePen(const Record& r, bool extended) {
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    if (extended) { // ihPen, offBmi, cbBmi, offBits, cbBits, style, width, brush style, colour
        o.pen.style = r.U32(28);
        o.pen.width = r.U32(32);
        o.pen.color = ColorRef(r.U32(40));
        if (r.U32(36) == 1) o.pen.style = (o.pen.style & ~0xFu) | 5; // hollow brush: no pen
        const std::size_t entries = r.U32(48);
        for (std::size_t i = 0; i < entries && i < 16 && r.Has(52 + 4 * i, 4); ++i)
            o.pen.dashes.push_back(r.U32(52 + 4 * i));
    } else { // ihPen, style, width (x, y), colour
        o.pen.style = r.U32(12);
        o.pen.width = r.I32(16);
        o.pen.color = ColorRef(r.U32(24));
    }
    dc_.PutObject(r.U32(8), std::move(o));
}

void Player::CreateBrush(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = r.U32(12);
    o.brush.color = ColorRef(r.U32(16));
    o.brush.hatch = r.U32(20);
    if (o.brush.style > 2) o.brush.style = 1;
    dc_.PutObject(r.U32(8), std::move(o));
}

void Player::CreatePatternBrush(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = 3;
    o.brush.pattern = Dib(r, 16, 20, 24, 28); // ihBrush, usage, offBmi, cbBmi, offBits, cbBits
    if (o.brush.pattern.isNull()) o.brush.style = 1;
    dc_.PutObject(r.U32(8), std::move(o));
}

// The same layout as a DIB pattern brush; a 1-bit pattern ignores its colour table (often
// there is none: usage DIB_PAL_INDICES) and is drawn in the text and background colours.
// (tests/data/metafile/emf-mono-brush.emf)
void Player::CreateMonoBrush(const Record& r) {
    QImage bits = DecodeMonoDib(r.Span(r.U32(16), r.U32(20)), r.Span(r.U32(24), r.U32(28)));
    if (bits.isNull()) {
        CreatePatternBrush(r);
        return;
    }
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = 3;
    o.brush.pattern = std::move(bits);
    o.brush.monochrome = true;
    dc_.PutObject(r.U32(8), std::move(o));
}

void Player::CreateFont(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Font;
    LogFont& f = o.font;
    f.height = r.I32(12);
    f.width = r.I32(16);
    f.escapement = r.I32(20);
    f.weight = r.I32(28);
    f.italic = r.U8(32) != 0;
    f.underline = r.U8(33) != 0;
    f.strikeOut = r.U8(34) != 0;
    f.charset = r.U8(35);
    for (std::size_t i = 0; i < 32; ++i) {
        const std::uint16_t c = r.U16(40 + 2 * i);
        if (c == 0) break;
        f.face += QChar(c);
    }
    dc_.PutObject(r.U32(8), std::move(o));
}

void Player::Text(const Record& r, bool wide) {
    // bounds, graphics mode, x scale, y scale, then the text: reference point, count,
    // offset of the string, options, rectangle, offset of the advances.
    const QPointF p = PointL(r, 36);
    const std::size_t count = r.U32(44);
    const std::size_t offString = r.U32(48);
    const std::uint32_t options = r.U32(52);
    const QRectF rect = RectL(r, 56);
    const std::size_t offDx = r.U32(72);
    const bool hasRect = (options & 0x6) != 0;
    if (count > r.Size()) return;
    const std::span<const std::uint8_t> bytes = r.Span(offString, wide ? 2 * count : count);
    if (bytes.size() != (wide ? 2 * count : count)) return;
    QString text;
    std::vector<int> units; // characters of the text that each advance belongs to
    if (wide) {
        for (std::size_t i = 0; i < count; ++i)
            text += QChar(static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    } else {
        for (const CharacterBytes& c : DecodeCharacters(bytes, charset_)) {
            text += c.text;
            units.push_back(c.bytes);
        }
    }
    std::vector<double> advances;
    if (offDx != 0 && r.Has(offDx, 4 * count)) {
        if (wide) {
            for (std::size_t i = 0; i < count; ++i)
                advances.push_back(r.I32(offDx + 4 * i));
        } else {
            std::size_t byte = 0;
            for (std::size_t c = 0; c < units.size(); ++c) {
                double a = 0;
                for (int i = 0; i < units[c]; ++i, ++byte)
                    a += r.I32(offDx + 4 * byte);
                advances.push_back(a);
            }
        }
    }
    dc_.TextOut(p, text, options, hasRect ? &rect : nullptr, advances);
}

void Player::Bitmap(std::uint32_t type, const Record& r) {
    switch (type) {
    case kStretchDiBits: {
        const QImage image = Dib(r, 48, 52, 56, 60);
        if (image.isNull()) return;
        QRectF source(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
        const Record info(r.Span(r.U32(48), r.U32(52)));
        if (info.I32(8) > 0) source.moveTop(image.height() - source.top() - source.height());
        dc_.Blit(QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76)), image, source, r.U32(68));
        return;
    }
    case kSetDiBitsToDevice: {
        const QImage image = Dib(r, 48, 52, 56, 60);
        if (image.isNull()) return;
        QRectF source(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
        const Record info(r.Span(r.U32(48), r.U32(52)));
        if (info.I32(8) > 0) source.moveTop(image.height() - source.top() - source.height());
        dc_.Blit(QRectF(r.I32(24), r.I32(28), r.I32(40), r.I32(44)), image, source, kSrcCopy);
        return;
    }
    case kBitBlt:
    case kStretchBlt:
    case kAlphaBlend: {
        const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        const std::uint32_t rop = r.U32(40);
        const bool alpha = type == kAlphaBlend;
        const QImage image =
            r.U32(88) == 0 ? QImage() : Dib(r, 84, 88, 92, 96, alpha && (rop >> 24 & 1));
        QRectF source(r.I32(44), r.I32(48), dest.width(), dest.height());
        if (type != kBitBlt) source.setSize(QSizeF(r.I32(100), r.I32(104)));
        if (!image.isNull()) {
            const Record info(r.Span(r.U32(84), r.U32(88)));
            if (info.I32(8) > 0) source.moveTop(image.height() - source.top() - source.height());
        }
        if (alpha)
            dc_.AlphaBlit(dest, image, source, static_cast<int>(rop >> 16 & 0xFF),
                          (rop >> 24 & 1) != 0);
        else
            dc_.Blit(dest, image, source, rop);
        return;
    }
    default:
        return;
    }
}

void Player::Play(std::uint32_t type, const Record& r) {
    switch (type) {
    case kPolyBezier:
    case kPolygon:
    case kPolyline:
    case kPolyBezierTo:
    case kPolylineTo:
        Poly(type, r, false);
        break;
    case kPolyBezier16:
    case kPolygon16:
    case kPolyline16:
    case kPolyBezierTo16:
    case kPolylineTo16:
        Poly(type, r, true);
        break;
    case kPolyPolyline:
    case kPolyPolygon:
        PolyPoly(type, r, false);
        break;
    case kPolyPolyline16:
    case kPolyPolygon16:
        PolyPoly(type, r, true);
        break;
    case kSetWindowExtEx:
        dc_.SetWindowExt(PointL(r, 8));
        break;
    case kSetWindowOrgEx:
        dc_.SetWindowOrg(PointL(r, 8));
        break;
    case kSetViewportExtEx:
        dc_.SetViewportExt(PointL(r, 8));
        break;
    case kSetViewportOrgEx:
        dc_.SetViewportOrg(PointL(r, 8));
        break;
    case kScaleViewportExtEx:
        dc_.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
        break;
    case kScaleWindowExtEx:
        dc_.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
        break;
    case kSetPixelV:
        dc_.SetPixel(PointL(r, 8), ColorRef(r.U32(16)));
        break;
    case kSetMapMode:
        dc_.SetMapMode(static_cast<int>(r.U32(8)));
        break;
    case kSetBkMode:
        dc_.SetBkMode(static_cast<int>(r.U32(8)));
        break;
    case kSetPolyFillMode:
        dc_.SetPolyFillMode(static_cast<int>(r.U32(8)));
        break;
    case kSetRop2:
        dc_.SetRop2(static_cast<int>(r.U32(8)));
        break;
    case kSetStretchBltMode:
        dc_.SetStretchMode(static_cast<int>(r.U32(8)));
        break;
    case kSetTextAlign:
        dc_.SetTextAlign(r.U32(8));
        break;
    case kSetTextColor:
        dc_.SetTextColor(ColorRef(r.U32(8)));
        break;
    case kSetBkColor:
        dc_.SetBkColor(ColorRef(r.U32(8)));
        break;
    case kOffsetClipRgn:
        dc_.OffsetClip(PointL(r, 8));
        break;
    case kMoveToEx:
        dc_.MoveTo(PointL(r, 8));
        break;
    case kLineTo:
        dc_.LineTo(PointL(r, 8));
        break;
    case kExcludeClipRect:
        dc_.ExcludeClipRect(RectL(r, 8));
        break;
    case kIntersectClipRect:
        dc_.IntersectClipRect(RectL(r, 8));
        break;
    case kSaveDC:
        dc_.SaveDC();
        break;
    case kRestoreDC:
        dc_.RestoreDC(r.I32(8));
        break;
    case kSetWorldTransform:
    case kModifyWorldTransform: {
        const QTransform t(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
        if (type == kSetWorldTransform)
            dc_.SetWorldTransform(t);
        else
            dc_.ModifyWorldTransform(t, static_cast<int>(r.U32(32)));
        break;
    }
    case kSelectObject: {
        const std::uint32_t index = r.U32(8);
        if ((index & kStockObject) != 0) {
            dc_.SelectStockObject(index & ~kStockObject);
            if ((index & ~kStockObject) >= 10 && (index & ~kStockObject) <= 17)
                charset_ = kDefaultCharset;
        } else {
            dc_.SelectObject(index);
            const GdiObject* o = dc_.Object(index);
            if (o != nullptr && o->kind == GdiObject::Kind::Font) charset_ = o->font.charset;
        }
        break;
    }
    case kDeleteObject:
        dc_.DeleteObject(r.U32(8));
        break;
    case kCreatePen:
        CreatePen(r, false);
        break;
    case kExtCreatePen:
        CreatePen(r, true);
        break;
    case kCreateBrushIndirect:
        CreateBrush(r);
        break;
    case kCreateMonoBrush:
        CreateMonoBrush(r);
        break;
    case kCreateDibPatternBrushPt:
        CreatePatternBrush(r);
        break;
    case kExtCreateFontIndirectW:
        CreateFont(r);
        break;
    case kCreatePalette: {
        GdiObject o;
        o.kind = GdiObject::Kind::Palette;
        dc_.PutObject(r.U32(8), std::move(o));
        break;
    }
    case kAngleArc:
        dc_.AngleArc(PointL(r, 8), r.U32(16), r.F32(20), r.F32(24));
        break;
    case kEllipse:
        dc_.Ellipse(RectL(r, 8));
        break;
    case kRectangle:
        dc_.Rectangle(RectL(r, 8));
        break;
    case kRoundRect:
        dc_.RoundRect(RectL(r, 8), QSizeF(r.I32(24), r.I32(28)));
        break;
    case kArc:
        dc_.ArcShape(MetaDC::ArcKind::Arc, RectL(r, 8), PointL(r, 24), PointL(r, 32));
        break;
    case kArcTo:
        dc_.ArcShape(MetaDC::ArcKind::ArcTo, RectL(r, 8), PointL(r, 24), PointL(r, 32));
        break;
    case kChord:
        dc_.ArcShape(MetaDC::ArcKind::Chord, RectL(r, 8), PointL(r, 24), PointL(r, 32));
        break;
    case kPie:
        dc_.ArcShape(MetaDC::ArcKind::Pie, RectL(r, 8), PointL(r, 24), PointL(r, 32));
        break;
    case kSetArcDirection:
        dc_.SetArcDirection(static_cast<int>(r.U32(8)));
        break;
    case kBeginPath:
        dc_.BeginPath();
        break;
    case kEndPath:
        dc_.EndPath();
        break;
    case kCloseFigure:
        dc_.CloseFigure();
        break;
    case kFillPath:
        dc_.FillPath();
        break;
    case kStrokeAndFillPath:
        dc_.StrokeAndFillPath();
        break;
    case kStrokePath:
        dc_.StrokePath();
        break;
    case kAbortPath:
        dc_.AbortPath();
        break;
    case kSelectClipPath: {
        const std::uint32_t mode = r.U32(8);
        if (mode >= 1 && mode <= 5) dc_.SelectClipPath(static_cast<ClipMode>(mode));
        break;
    }
    case kExtSelectClipRgn: { // cbRgnData, mode, region
        const std::uint32_t bytes = r.U32(8);
        const std::uint32_t mode = r.U32(12);
        if (mode < 1 || mode > 5) break;
        if (bytes == 0) {
            dc_.SelectClipRegion(nullptr, static_cast<ClipMode>(mode), true);
            break;
        }
        if (!r.Has(16, bytes)) break;
        const QPainterPath region = RegionPath(r, 16, bytes);
        dc_.SelectClipRegion(&region, static_cast<ClipMode>(mode), true);
        break;
    }
    case kFillRgn: { // bounds, cbRgnData, ihBrush, region
        const std::uint32_t bytes = r.U32(24);
        const LogBrush* brush = Brush(r.U32(28));
        if (brush == nullptr || !r.Has(32, bytes)) break;
        dc_.FillRegion(RegionPath(r, 32, bytes), *brush, true);
        break;
    }
    case kFrameRgn: { // bounds, cbRgnData, ihBrush, width, height, region
        const std::uint32_t bytes = r.U32(24);
        const LogBrush* brush = Brush(r.U32(28));
        if (brush == nullptr || !r.Has(40, bytes)) break;
        dc_.FrameRegion(RegionPath(r, 40, bytes), *brush, true);
        break;
    }
    case kInvertRgn:
    case kPaintRgn: { // bounds, cbRgnData, region
        const std::uint32_t bytes = r.U32(24);
        if (!r.Has(28, bytes)) break;
        const QPainterPath region = RegionPath(r, 28, bytes);
        if (type == kInvertRgn)
            dc_.InvertRegion(region, true);
        else
            dc_.PaintRegion(region, true);
        break;
    }
    case kExtTextOutA:
        Text(r, false);
        break;
    case kExtTextOutW:
        Text(r, true);
        break;
    case kBitBlt:
    case kStretchBlt:
    case kAlphaBlend:
    case kStretchDiBits:
    case kSetDiBitsToDevice:
        Bitmap(type, r);
        break;
    default:
        break; // comments (and the records in them), palettes and the rest draw nothing
    }
}

} // namespace

bool LooksEnhanced(std::span<const std::uint8_t> data) {
    const Record r(data);
    return data.size() > 100 && r.U32(0) == 1 && r.U32(40) == kSignature;
}

std::optional<EnhancedHeader> ReadEnhancedHeader(std::span<const std::uint8_t> data) {
    const Record r(data);
    if (data.size() < kHeaderFixedSize) return std::nullopt;
    EnhancedHeader h;
    h.bounds = QRect(QPoint(r.I32(8), r.I32(12)), QPoint(r.I32(16), r.I32(20)));
    h.frame = QRect(QPoint(r.I32(24), r.I32(28)), QPoint(r.I32(32), r.I32(36)));
    h.bytes = r.U32(48);
    h.records = r.U32(52);
    h.handles = r.U16(56);
    h.paletteEntries = r.U32(68);
    h.devicePixels = QSize(r.I32(72), r.I32(76));
    h.deviceMillimetres = QSize(r.I32(80), r.I32(84));
    return h;
}

bool CheckEnhancedMetafile(std::span<const std::uint8_t> data, QList<QRgb>* palette) {
    QList<QRgb> found;
    const bool ok = WalkRecords(data, [&](std::uint32_t type, const Record& r) {
        if (type != kEof) return;
        const std::size_t count = r.U32(8);
        const std::size_t offset = r.U32(12);
        for (std::size_t i = 0; i < count && i < 256 && r.Has(offset + 4 * i, 4); ++i)
            found.append(
                qRgb(r.U8(offset + 4 * i), r.U8(offset + 4 * i + 1), r.U8(offset + 4 * i + 2)));
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
    double ppmX = 96 / 25.4;
    double ppmY = 96 / 25.4;
    if (h->deviceMillimetres.width() > 0 && h->devicePixels.width() > 0)
        ppmX = double(h->devicePixels.width()) / h->deviceMillimetres.width();
    if (h->deviceMillimetres.height() > 0 && h->devicePixels.height() > 0)
        ppmY = double(h->devicePixels.height()) / h->deviceMillimetres.height();
    QRectF frame(
        QPointF(h->frame.left() * ppmX / 100, h->frame.top() * ppmY / 100),
        QPointF(double(h->frame.right()) * ppmX / 100, double(h->frame.bottom()) * ppmY / 100));
    if (frame.width() <= 0 || frame.height() <= 0)
        frame = QRectF(QPointF(h->bounds.left(), h->bounds.top()),
                       QPointF(h->bounds.right(), h->bounds.bottom()));
    const double sx = frame.width() > 0 ? target.width() / frame.width() : 1;
    const double sy = frame.height() > 0 ? target.height() / frame.height() : 1;
    const QTransform deviceToTarget(sx, 0, 0, sy, target.left() - frame.left() * sx,
                                    target.top() - frame.top() * sy);
    MetaDC dc(painter, target, deviceToTarget, h->handles, ppmX, ppmY);
    Player player(dc);
    WalkRecords(data, [&](std::uint32_t type, const Record& r) { player.Play(type, r); });
}

} // namespace sorowa::metafile
