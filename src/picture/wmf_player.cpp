#include "picture/wmf_player.h"

#include "picture/metafile_dc.h"
#include "picture/metafile_records.h"
#include "picture/metafile_text.h"

#include <QPainter>
#include <functional>

namespace sorowa::metafile {
namespace {

constexpr std::size_t kHeaderSize = 18;

enum Function : std::uint16_t {
    kEof = 0x0000,
    kSaveDC = 0x001E,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSetStretchBltMode = 0x0107,
    kSetTextCharExtra = 0x0108,
    kRestoreDC = 0x0127,
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kCreatePalette = 0x00F7,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
};

// The size of a blit record that names no bitmap.
std::size_t BitmapLessSize(std::uint16_t function) {
    return (std::size_t{function} >> 8) * 2 + 6;
}

// Calls visit with every record (size in bytes, function, record bytes) up to the end
// record; false when a record does not fit in body.
bool WalkRecords(std::span<const std::uint8_t> body,
                 const std::function<void(std::uint16_t, const Record&)>& visit) {
    const Record header(body);
    if (body.size() < kHeaderSize) return false;
    const std::uint16_t type = header.U16(0);
    if ((type != 1 && type != 2) || header.U16(2) != 9) return false;
    std::size_t pos = kHeaderSize;
    while (pos < body.size()) {
        if (6 > body.size() - pos) return false;
        const Record head(body.subspan(pos, 6));
        const std::uint64_t bytes = std::uint64_t{head.U32(0)} * 2;
        if (bytes < 6 || bytes > body.size() - pos) return false;
        const std::uint16_t function = head.U16(4);
        if (function == kEof) return true;
        if (visit) visit(function, Record(body.subspan(pos, static_cast<std::size_t>(bytes))));
        pos += static_cast<std::size_t>(bytes);
    }
    return true; // a body that ends without its end record plays what it has
}

class Player {
public:
    Player(MetaDC& dc) : dc_(dc) {}
    void Play(std::uint16_t function, const Record& r);

private:
    // The i-th 16-bit parameter.
    double P(const Record& r, std::size_t i) const { return r.I16(6 + 2 * i); }
    std::uint16_t UP(const Record& r, std::size_t i) const { return r.U16(6 + 2 * i); }
    std::uint32_t P32(const Record& r, std::size_t i) const { return r.U32(6 + 2 * i); }
    std::size_t Params(const Record& r) const { return (r.Size() - 6) / 2; }
    QRectF Rect(const Record& r, std::size_t i) const { // bottom, right, top, left
        return QRectF(QPointF(P(r, i + 3), P(r, i + 2)), QPointF(P(r, i + 1), P(r, i)));
    }
    std::vector<QPointF> Points(const Record& r, std::size_t first, std::size_t count) const {
        std::vector<QPointF> points;
        if (count > Params(r) / 2 || first > Params(r) - 2 * count) return points;
        points.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            points.emplace_back(P(r, first + 2 * i), P(r, first + 2 * i + 1));
        return points;
    }
    void CreatePen(const Record& r);
    void CreateBrush(const Record& r);
    void CreateFont(const Record& r);
    void CreateDibPatternBrush(const Record& r);
    void CreateRegion(const Record& r);
    void PolyPolygon(const Record& r);
    void Text(const Record& r, bool extended);
    void Bitmap(std::uint16_t function, const Record& r);
    const QPainterPath* Region(std::size_t index) const {
        const GdiObject* o = dc_.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Region ? &o->region : nullptr;
    }
    const LogBrush* Brush(std::size_t index) const {
        const GdiObject* o = dc_.Object(index);
        return o != nullptr && o->kind == GdiObject::Kind::Brush ? &o->brush : nullptr;
    }

    MetaDC& dc_;
    int charset_ = kDefaultCharset;
};

void Player::CreatePen(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    o.pen.style = UP(r, 0);
    o.pen.width = P(r, 1);
    o.pen.color = ColorRef(P32(r, 3));
    dc_.AddObject(std::move(o));
}

void Player::CreateBrush(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = UP(r, 0);
    o.brush.color = ColorRef(P32(r, 1));
    o.brush.hatch = UP(r, 3);
    if (o.brush.style > 2) o.brush.style = 1; // patterns need a bitmap this record lacks
    dc_.AddObject(std::move(o));
}

void Player::CreateFont(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Font;
    LogFont& f = o.font;
    f.height = P(r, 0);
    f.width = P(r, 1);
    f.escapement = static_cast<int>(P(r, 2));
    f.weight = static_cast<int>(P(r, 4));
    f.italic = r.U8(16) != 0;
    f.underline = r.U8(17) != 0;
    f.strikeOut = r.U8(18) != 0;
    f.charset = r.U8(19);
    const std::span<const std::uint8_t> face = r.Tail(24);
    std::size_t length = 0;
    while (length < face.size() && length < 32 && face[length] != 0)
        ++length;
    f.face = DecodeText(face.first(length), f.charset);
    dc_.AddObject(std::move(o));
}

void Player::CreateDibPatternBrush(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush.style = 3;
    const std::span<const std::uint8_t> dib = r.Tail(10);
    const Record info(dib);
    const std::uint32_t headerSize = info.U32(0);
    std::size_t infoBytes = dib.size();
    if (headerSize >= 12 && headerSize <= dib.size()) {
        const std::uint32_t bits = headerSize == 12 ? info.U16(10) : info.U16(14);
        std::uint64_t colors = headerSize == 12 ? 0 : info.U32(32);
        if (colors == 0 && bits <= 8) colors = std::uint64_t{1} << bits;
        const std::uint64_t entry = headerSize == 12 ? 3 : 4;
        const std::uint64_t masks = headerSize == 40 && info.U32(16) == 3 ? 12 : 0;
        infoBytes = static_cast<std::size_t>(
            std::min<std::uint64_t>(dib.size(), headerSize + masks + colors * entry));
    }
    o.brush.pattern = DecodeDib(dib.first(infoBytes), dib.subspan(infoBytes));
    if (o.brush.pattern.isNull()) o.brush.style = 1;
    dc_.AddObject(std::move(o));
}

void Player::CreateRegion(const Record& r) {
    GdiObject o;
    o.kind = GdiObject::Kind::Region;
    const std::size_t scans = UP(r, 5);
    std::size_t at = 6 + 2 * 11; // after the header and the bounding box
    for (std::size_t s = 0; s < scans && r.Has(at, 6); ++s) {
        const std::size_t count = r.U16(at);
        const double top = r.I16(at + 2);
        const double bottom = r.I16(at + 4);
        std::size_t x = at + 6;
        for (std::size_t i = 0; i + 1 < count && r.Has(x, 4); i += 2, x += 4)
            o.region.addRect(QRectF(QPointF(r.I16(x), top), QPointF(r.I16(x + 2), bottom)));
        at += 6 + 2 * count + 2;
    }
    if (scans == 0) // the bounding box alone
        o.region.addRect(QRectF(QPointF(P(r, 7), P(r, 8)), QPointF(P(r, 9), P(r, 10))));
    dc_.AddObject(std::move(o));
}

void Player::PolyPolygon(const Record& r) {
    const std::size_t polygons = UP(r, 0);
    if (polygons > Params(r)) return;
    std::size_t next = 1 + polygons;
    std::vector<std::vector<QPointF>> all;
    for (std::size_t i = 0; i < polygons; ++i) {
        const std::size_t count = UP(r, 1 + i);
        std::vector<QPointF> points = Points(r, next, count);
        if (points.size() != count) return;
        all.push_back(std::move(points));
        next += 2 * count;
    }
    dc_.PolyPolygon(all);
}

void Player::Text(const Record& r, bool extended) {
    std::size_t at = 0;
    std::size_t length = 0;
    QPointF p;
    std::uint32_t options = 0;
    QRectF rect;
    bool hasRect = false;
    if (!extended) {
        length = UP(r, 0);
        at = 8;
        const std::size_t after = at + (length + 1) / 2 * 2;
        p = QPointF(r.I16(after + 2), r.I16(after));
    } else {
        p = QPointF(P(r, 1), P(r, 0));
        length = UP(r, 2);
        options = UP(r, 3);
        at = 14;
        if ((options & 0x6) != 0) {
            rect = QRectF(QPointF(r.I16(14), r.I16(16)), QPointF(r.I16(18), r.I16(20)));
            hasRect = true;
            at = 22;
        }
    }
    const std::span<const std::uint8_t> bytes = r.Span(at, length);
    if (bytes.size() != length) return;
    std::vector<CharacterBytes> characters = DecodeCharacters(bytes, charset_);
    std::vector<double> advances;
    const std::size_t dxAt = at + (length + 1) / 2 * 2;
    if (extended && r.Has(dxAt, 2 * length)) {
        std::size_t byte = 0;
        for (const CharacterBytes& c : characters) {
            double advance = 0;
            for (int i = 0; i < c.bytes; ++i)
                advance += r.I16(dxAt + 2 * (byte + static_cast<std::size_t>(i)));
            byte += static_cast<std::size_t>(c.bytes);
            // A character beyond the basic plane takes two places in the text.
            advances.push_back(advance);
            if (c.text.size() == 2) advances.push_back(0);
        }
    }
    QString text;
    for (const CharacterBytes& c : characters)
        text += c.text;
    dc_.TextOut(p, text, options, hasRect ? &rect : nullptr, advances);
}

void Player::Bitmap(std::uint16_t function, const Record& r) {
    const std::uint32_t rop = P32(r, 0);
    QRectF dest;
    QRectF source;
    std::size_t dibAt = 0;
    bool hasBitmap = true;
    switch (function) {
    case kStretchDib: // rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, dib
        source = QRectF(P(r, 6), P(r, 5), P(r, 4), P(r, 3));
        dest = QRectF(P(r, 10), P(r, 9), P(r, 8), P(r, 7));
        dibAt = 6 + 2 * 11;
        break;
    case kDibStretchBlt: // rop, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, dib
        hasBitmap = r.Size() != BitmapLessSize(function);
        if (!hasBitmap) { // the bitmap-less form has a reserved word before the destination
            dest = QRectF(P(r, 10), P(r, 9), P(r, 8), P(r, 7));
            break;
        }
        source = QRectF(P(r, 5), P(r, 4), P(r, 3), P(r, 2));
        dest = QRectF(P(r, 9), P(r, 8), P(r, 7), P(r, 6));
        dibAt = 6 + 2 * 10;
        break;
    case kDibBitBlt: // rop, ySrc, xSrc, height, width, yDst, xDst, dib
        hasBitmap = r.Size() != BitmapLessSize(function);
        if (!hasBitmap) { // here too a reserved word comes before the destination
            dest = QRectF(P(r, 8), P(r, 7), P(r, 6), P(r, 5));
            break;
        }
        source = QRectF(P(r, 3), P(r, 2), P(r, 5), P(r, 4));
        dest = QRectF(P(r, 7), P(r, 6), P(r, 5), P(r, 4));
        dibAt = 6 + 2 * 8;
        break;
    case kSetDibToDev: // usage, scans, start, ySrc, xSrc, height, width, yDst, xDst, dib
        source = QRectF(P(r, 4), P(r, 3), P(r, 6), P(r, 5));
        dest = QRectF(P(r, 8), P(r, 7), P(r, 6), P(r, 5));
        dibAt = 6 + 2 * 9;
        break;
    default: // pattern blit: rop, height, width, y, x
        dc_.Blit(QRectF(P(r, 5), P(r, 4), P(r, 3), P(r, 2)), QImage(), QRectF(), rop);
        return;
    }
    if (!hasBitmap) {
        dc_.Blit(dest, QImage(), QRectF(), rop);
        return;
    }
    const std::span<const std::uint8_t> dib = r.Tail(dibAt);
    const Record info(dib);
    const std::uint32_t headerSize = info.U32(0);
    if (headerSize < 12 || headerSize > dib.size()) return;
    const bool core = headerSize == 12;
    const std::uint32_t bits = core ? info.U16(10) : info.U16(14);
    std::uint64_t colors = core ? 0 : info.U32(32);
    if (colors == 0 && bits <= 8) colors = std::uint64_t{1} << bits;
    const std::uint64_t masks = headerSize == 40 && info.U32(16) == 3 ? 12 : 0;
    const std::uint64_t infoBytes = headerSize + masks + colors * (core ? 3 : 4);
    if (infoBytes > dib.size()) return;
    const QImage image = DecodeDib(dib.first(static_cast<std::size_t>(infoBytes)),
                                   dib.subspan(static_cast<std::size_t>(infoBytes)));
    if (image.isNull()) return;
    // Source rows count from the bottom of a bottom-up bitmap.
    const double height = image.height();
    const std::int32_t dibHeight = core ? info.U16(6) : info.I32(8);
    if (dibHeight > 0) source.moveTop(height - source.top() - source.height());
    dc_.Blit(dest, image, source, function == kSetDibToDev ? kSrcCopy : rop);
}

void Player::Play(std::uint16_t function, const Record& r) {
    switch (function) {
    case kSaveDC:
        dc_.SaveDC();
        break;
    case kRestoreDC:
        dc_.RestoreDC(static_cast<int>(P(r, 0)));
        break;
    case kSetBkMode:
        dc_.SetBkMode(UP(r, 0));
        break;
    case kSetMapMode:
        dc_.SetMapMode(UP(r, 0));
        break;
    case kSetRop2:
        dc_.SetRop2(UP(r, 0));
        break;
    case kSetPolyFillMode:
        dc_.SetPolyFillMode(UP(r, 0));
        break;
    case kSetStretchBltMode:
        dc_.SetStretchMode(UP(r, 0));
        break;
    case kSetTextCharExtra:
        dc_.SetTextCharExtra(P(r, 0));
        break;
    case kSetTextAlign:
        dc_.SetTextAlign(UP(r, 0));
        break;
    case kSetBkColor:
        dc_.SetBkColor(ColorRef(P32(r, 0)));
        break;
    case kSetTextColor:
        dc_.SetTextColor(ColorRef(P32(r, 0)));
        break;
    case kSetWindowOrg:
        dc_.SetWindowOrg({P(r, 1), P(r, 0)});
        break;
    case kSetWindowExt:
        dc_.SetWindowExt({P(r, 1), P(r, 0)});
        break;
    case kSetViewportOrg:
        dc_.SetViewportOrg({P(r, 1), P(r, 0)});
        break;
    case kSetViewportExt:
        dc_.SetViewportExt({P(r, 1), P(r, 0)});
        break;
    case kOffsetWindowOrg:
        dc_.OffsetWindowOrg({P(r, 1), P(r, 0)});
        break;
    case kOffsetViewportOrg:
        dc_.OffsetViewportOrg({P(r, 1), P(r, 0)});
        break;
    case kScaleWindowExt:
        dc_.ScaleWindowExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0));
        break;
    case kScaleViewportExt:
        dc_.ScaleViewportExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0));
        break;
    case kLineTo:
        dc_.LineTo({P(r, 1), P(r, 0)});
        break;
    case kMoveTo:
        dc_.MoveTo({P(r, 1), P(r, 0)});
        break;
    case kExcludeClipRect:
        dc_.ExcludeClipRect(Rect(r, 0));
        break;
    case kIntersectClipRect:
        dc_.IntersectClipRect(Rect(r, 0));
        break;
    case kOffsetClipRgn:
        dc_.OffsetClip({P(r, 1), P(r, 0)});
        break;
    case kEllipse:
        dc_.Ellipse(Rect(r, 0));
        break;
    case kRectangle:
        dc_.Rectangle(Rect(r, 0));
        break;
    case kRoundRect:
        dc_.RoundRect(Rect(r, 2), QSizeF(P(r, 1), P(r, 0)));
        break;
    case kArc:
    case kPie:
    case kChord: {
        const MetaDC::ArcKind kind = function == kArc   ? MetaDC::ArcKind::Arc
                                     : function == kPie ? MetaDC::ArcKind::Pie
                                                        : MetaDC::ArcKind::Chord;
        dc_.ArcShape(kind, Rect(r, 4), {P(r, 3), P(r, 2)}, {P(r, 1), P(r, 0)});
        break;
    }
    case kSetPixel:
        dc_.SetPixel({P(r, 3), P(r, 2)}, ColorRef(P32(r, 0)));
        break;
    case kPolygon: {
        const auto points = Points(r, 1, UP(r, 0));
        dc_.Polygon(points);
        break;
    }
    case kPolyline:
        dc_.Polyline(Points(r, 1, UP(r, 0)));
        break;
    case kPolyPolygon:
        PolyPolygon(r);
        break;
    case kCreatePenIndirect:
        CreatePen(r);
        break;
    case kCreateBrushIndirect:
        CreateBrush(r);
        break;
    case kCreateFontIndirect:
        CreateFont(r);
        break;
    case kDibCreatePatternBrush:
        CreateDibPatternBrush(r);
        break;
    case kCreateRegion:
        CreateRegion(r);
        break;
    case kCreatePalette:
    case kCreatePatternBrush: { // kept in the table so that later indices stay right
        GdiObject o;
        o.kind = function == kCreatePalette ? GdiObject::Kind::Palette : GdiObject::Kind::Brush;
        dc_.AddObject(std::move(o));
        break;
    }
    case kSelectObject: {
        dc_.SelectObject(UP(r, 0));
        const GdiObject* o = dc_.Object(UP(r, 0));
        if (o != nullptr && o->kind == GdiObject::Kind::Font) charset_ = o->font.charset;
        break;
    }
    case kDeleteObject:
        dc_.DeleteObject(UP(r, 0));
        break;
    case kSelectClipRegion:
        dc_.SelectClipRegion(Region(UP(r, 0)), ClipMode::Copy, false);
        break;
    case kFillRegion:
        if (const QPainterPath* region = Region(UP(r, 0)))
            if (const LogBrush* brush = Brush(UP(r, 1))) dc_.FillRegion(*region, *brush, false);
        break;
    case kFrameRegion:
        if (const QPainterPath* region = Region(UP(r, 0)))
            if (const LogBrush* brush = Brush(UP(r, 1))) dc_.FrameRegion(*region, *brush, false);
        break;
    case kPaintRegion:
        if (const QPainterPath* region = Region(UP(r, 0))) dc_.PaintRegion(*region, false);
        break;
    case kInvertRegion:
        if (const QPainterPath* region = Region(UP(r, 0))) dc_.InvertRegion(*region, false);
        break;
    case kTextOut:
        Text(r, false);
        break;
    case kExtTextOut:
        Text(r, true);
        break;
    case kStretchDib:
    case kDibStretchBlt:
    case kDibBitBlt:
    case kSetDibToDev:
    case kPatBlt:
        Bitmap(function, r);
        break;
    default:
        break; // escapes, palettes and the rest draw nothing
    }
}

} // namespace

bool CheckWindowsMetafile(std::span<const std::uint8_t> body, WindowsMetafileFacts* facts) {
    WindowsMetafileFacts found;
    const bool ok = WalkRecords(body, [&](std::uint16_t function, const Record& r) {
        if (function != kCreatePalette) return;
        const std::size_t count = r.U16(8);
        for (std::size_t i = 0; i < count && r.Has(10 + 4 * i, 4) && found.palette.size() < 256;
             ++i)
            found.palette.append(qRgb(r.U8(10 + 4 * i), r.U8(11 + 4 * i), r.U8(12 + 4 * i)));
    });
    if (!ok) return false;
    found.objects = Record(body).U16(10);
    if (facts) *facts = std::move(found);
    return true;
}

void PlayWindowsMetafile(std::span<const std::uint8_t> body, const QRectF& window,
                         QPainter& painter, const QRectF& target) {
    MetaDC dc(painter, target, QTransform(), Record(body).U16(10), 96 / 25.4, 96 / 25.4);
    dc.LockViewport(target.topLeft(), QPointF(target.width(), target.height()));
    dc.SetWindowOrg(window.topLeft());
    dc.SetWindowExt(QPointF(window.width() != 0 ? window.width() : 1,
                            window.height() != 0 ? window.height() : 1));
    Player player(dc);
    WalkRecords(body, [&](std::uint16_t function, const Record& r) { player.Play(function, r); });
}

} // namespace sorowa::metafile
