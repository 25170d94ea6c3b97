#pragma once
// The records of enhanced metafiles read field by field: the structures they are made of
// (points, rectangles, transforms, bitmaps, regions) and the fixed parts of the records
// with more than a field or two. Reading never leaves the record (see FieldReader).

#include "picture/metafile_records.h"

#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QTransform>
#include <cstdint>
#include <vector>

namespace sorowa::metafile::emf {

// Every record starts with its type and its size in bytes; the fields follow.
inline constexpr std::size_t kRecordHeadSize = 8;
inline constexpr std::size_t kBoundsSize = 16; // the bounding rectangle many records start with
inline constexpr std::size_t kRegionHeaderMinSize = 32;
inline constexpr std::size_t kRegionRectSize = 16;
inline constexpr std::size_t kPointLSize = 8;
inline constexpr std::size_t kPointSSize = 4;
inline constexpr std::size_t kFaceNameChars = 32;

// An enhanced record's fields in order, from just after its type and size, and the
// structures records are made of.
class Fields : public FieldReader {
public:
    explicit Fields(const Record& r, std::size_t at = kRecordHeadSize) : FieldReader(r, at) {}
    Fields(const Record&& r, std::size_t at = kRecordHeadSize) = delete;
    QPointF PointL() {
        const double x = I32();
        const double y = I32();
        return {x, y};
    }
    QSizeF SizeL() {
        const double cx = I32();
        const double cy = I32();
        return {cx, cy};
    }
    QRectF RectL() { // left, top, right, bottom
        const QPointF topLeft = PointL();
        const QPointF bottomRight = PointL();
        return {topLeft, bottomRight};
    }
    QTransform Xform() { // eM11, eM12, eM21, eM22, eDx, eDy
        float m[6];
        for (float& v : m)
            v = F32();
        return {m[0], m[1], m[2], m[3], m[4], m[5]};
    }
    QColor Color() { return ColorRef(U32()); }
    void SkipBounds() { Skip(kBoundsSize); }
};

// Where a record keeps a bitmap: its header and colours, then its pixels, as offsets from
// the record's start and sizes.
struct DibRef {
    std::uint32_t offInfo = 0;
    std::uint32_t infoBytes = 0;
    std::uint32_t offBits = 0;
    std::uint32_t bitsBytes = 0;
    static DibRef Read(Fields& f) {
        DibRef d;
        d.offInfo = f.U32();
        d.infoBytes = f.U32();
        d.offBits = f.U32();
        d.bitsBytes = f.U32();
        return d;
    }
};

// The bitmap d names; a null image when its header is not in the record, when pixels it
// says it has are not, or when it is damaged.
QImage Dib(const Record& r, const DibRef& d, bool withAlpha = false);

// Source rows count from the bottom of a bottom-up bitmap (one of positive height).
QRectF FromTop(const Record& r, const DibRef& d, const QImage& image, QRectF source);

// A region's rectangles (RGNDATA: header, then the rectangles) as a path in device units;
// bytes is the region's size as its record gives it.
QPainterPath RegionPath(const Record& r, std::size_t at, std::size_t bytes);

// count points at offset at, 32-bit (POINTL) or 16-bit (POINTS); none when they are not
// all in the record.
std::vector<QPointF> Points(const Record& r, std::size_t at, std::size_t count, bool small);

// ihBrush, iUsage, the bitmap.
struct PatternBrushRecord {
    std::uint32_t slot = 0;
    DibRef dib;
    static PatternBrushRecord Read(const Record& r) {
        Fields f(r);
        PatternBrushRecord b;
        b.slot = f.U32();
        f.Skip(4); // iUsage
        b.dib = DibRef::Read(f);
        return b;
    }
};

// bounds, graphics mode, x and y scale, then EMRTEXT: reference point, number of
// characters, offset of the string, options, rectangle, offset of the advances.
struct TextRecord {
    QPointF reference;
    std::size_t count = 0;
    std::size_t offString = 0;
    std::uint32_t options = 0;
    QRectF rect;
    std::size_t offDx = 0;
    static TextRecord Read(const Record& r) {
        Fields f(r);
        f.SkipBounds();
        f.Skip(12); // graphics mode, x and y scale
        TextRecord t;
        t.reference = f.PointL();
        t.count = f.U32();
        t.offString = f.U32();
        t.options = f.U32();
        t.rect = f.RectL();
        t.offDx = f.U32();
        return t;
    }
};

// bounds, destination x, y, source x, y, width, height, the bitmap, iUsage, then
// StretchDIBits: dwRop and the destination size; SetDIBitsToDevice: the scan lines.
struct DibBitsRecord {
    QPointF dest;
    QRectF source;
    DibRef dib;
    std::uint32_t rop = 0;
    QSizeF destSize;
    static DibBitsRecord Read(const Record& r) {
        Fields f(r);
        f.SkipBounds();
        DibBitsRecord d;
        d.dest = f.PointL();
        const QPointF sourceAt = f.PointL();
        d.source = QRectF(sourceAt, f.SizeL());
        d.dib = DibRef::Read(f);
        f.Skip(4); // iUsage
        d.rop = f.U32();
        d.destSize = f.SizeL();
        return d;
    }
};

// bounds, destination rectangle, dwRop, source x, y, source transform, background colour,
// iUsage, the bitmap, then (stretching records) the source size.
struct BltRecord {
    QRectF dest;
    std::uint32_t rop = 0;
    QPointF sourceAt;
    DibRef dib;
    QSizeF sourceSize;
    static BltRecord Read(const Record& r) {
        Fields f(r);
        f.SkipBounds();
        BltRecord b;
        const QPointF destAt = f.PointL();
        b.dest = QRectF(destAt, f.SizeL());
        b.rop = f.U32();
        b.sourceAt = f.PointL();
        f.Xform();
        f.Skip(8); // background colour, iUsage
        b.dib = DibRef::Read(f);
        b.sourceSize = f.SizeL();
        return b;
    }
};

} // namespace sorowa::metafile::emf
