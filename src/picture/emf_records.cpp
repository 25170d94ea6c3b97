#include "picture/emf_records.h"

namespace sorowa::metafile::emf {

QImage Dib(const Record& r, const DibRef& d, bool withAlpha) {
    const auto info = r.Span(d.offInfo, d.infoBytes);
    const auto bits = r.Span(d.offBits, d.bitsBytes);
    if (info.empty() || (bits.empty() && d.bitsBytes != 0)) return {};
    return DecodeDib(info, bits, withAlpha);
}

QRectF FromTop(const Record& r, const DibRef& d, const QImage& image, QRectF source) {
    const Record header(r.Span(d.offInfo, d.infoBytes));
    FieldReader info(header, 8); // biSize, biWidth, then biHeight
    if (info.I32() > 0) source.moveTop(image.height() - source.top() - source.height());
    return source;
}

QPainterPath RegionPath(const Record& r, std::size_t at, std::size_t bytes) {
    QPainterPath path;
    FieldReader header(r, at); // dwSize, iType, nCount, nRgnSize, rcBound
    const std::size_t headerSize = header.U32();
    header.Skip(4); // iType
    const std::size_t count = header.U32();
    if (headerSize < kRegionHeaderMinSize || headerSize > bytes) return path;
    const std::size_t rects = at + headerSize;
    for (std::size_t i = 0; i < count && kRegionRectSize * (i + 1) <= bytes - headerSize &&
                            r.Has(rects + kRegionRectSize * i, kRegionRectSize);
         ++i)
        path.addRect(Fields(r, rects + kRegionRectSize * i).RectL());
    return path;
}

std::vector<QPointF> Points(const Record& r, std::size_t at, std::size_t count, bool small) {
    std::vector<QPointF> points;
    const std::size_t size = small ? kPointSSize : kPointLSize;
    if (at > r.Size() || count > (r.Size() - at) / size) return points;
    points.reserve(count);
    Fields f(r, at);
    for (std::size_t i = 0; i < count; ++i) {
        if (!small) {
            points.push_back(f.PointL());
            continue;
        }
        const double x = f.I16();
        const double y = f.I16();
        points.emplace_back(x, y);
    }
    return points;
}

} // namespace sorowa::metafile::emf
