#include "picture/jpeg/exif_stand_in.h"

#include "picture/jpeg/exif_thumbnail.h"
#include "picture/jpeg/orientation.h"

#include <QRect>
#include <algorithm>
#include <array>
#include <cmath>

namespace sorowa::jpeg {
namespace {

// Where the photo may be inside its thumbnail. Where proportions differ, first the photo's
// proportions centred between bars, as cameras store it (less a pixel on the bars' sides,
// where the compression smears them), then the whole thumbnail, stretched.
std::vector<QRect> PhotoRectsIn(QSize thumbnail, int photoWidth, int photoHeight) {
    const QRect whole(QPoint(0, 0), thumbnail);
    const double scale = std::min(static_cast<double>(thumbnail.width()) / photoWidth,
                                  static_cast<double>(thumbnail.height()) / photoHeight);
    const double width = photoWidth * scale, height = photoHeight * scale;
    if (thumbnail.width() - width < 1 && thumbnail.height() - height < 1) return {whole};
    const double x0 = (thumbnail.width() - width) / 2, y0 = (thumbnail.height() - height) / 2;
    const bool bars = y0 > 0.5; // above and below; otherwise at the sides
    int left = static_cast<int>(std::ceil(x0)), top = static_cast<int>(std::ceil(y0));
    int right = static_cast<int>(std::floor(x0 + width)),
        bottom = static_cast<int>(std::floor(y0 + height));
    if (bars) {
        ++top, --bottom;
    } else {
        ++left, --right;
    }
    if (right - left < 16 || bottom - top < 16) return {whole};
    return {QRect(left, top, right - left, bottom - top), whole};
}

using Means = std::array<double, 3>;

// The mean of each byte of a 3-byte pixel over [x0, x1) x [y0, y1).
Means MeanOver(const QImage& image, int x0, int x1, int y0, int y1) {
    Means sum{};
    for (int y = y0; y < y1; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += row[x * 3 + c];
    }
    const double count = std::max(1.0, static_cast<double>(x1 - x0) * (y1 - y0));
    for (double& value : sum)
        value /= count;
    return sum;
}

// The thumbnail rows whose band is compared with the top of the photo.
constexpr int kBandRows = 8;

// Photo rows (at the scale decoded) that lie under the thumbnail's top band.
int PhotoRowsUnderBand(const QRect& photo, int scaledHeight) {
    const int band = std::min(kBandRows, photo.height());
    return std::clamp(
        static_cast<int>(std::lround(static_cast<double>(band) * scaledHeight / photo.height())), 1,
        scaledHeight);
}

// How far the top band of the photo's rectangle in the thumbnail is from the photo's own top
// rows: eight cells across, each colour's mean compared; the mean difference, or nullopt when
// it or any one cell is too large for a copy of this photo. A thumbnail is a scaled copy, so
// the means agree closely (cell edges fall within a pixel of each other; compression moves
// means by little); another picture, or this one turned or cropped since, differs widely.
std::optional<double> TopBandDifference(const QImage& thumbnail, const QRect& photo,
                                        const QImage& top, int scaledHeight) {
    constexpr int kCells = 8;
    constexpr double kLargestCell = 24, kLargestMean = 8;
    const int band = std::min(kBandRows, photo.height());
    const int rows = PhotoRowsUnderBand(photo, scaledHeight);
    if (top.height() < rows) return std::nullopt;
    double total = 0;
    for (int i = 0; i < kCells; ++i) {
        const Means a = MeanOver(thumbnail, photo.left() + i * photo.width() / kCells,
                                 photo.left() + (i + 1) * photo.width() / kCells, photo.top(),
                                 photo.top() + band);
        const Means b =
            MeanOver(top, i * top.width() / kCells, (i + 1) * top.width() / kCells, 0, rows);
        for (int c = 0; c < 3; ++c) {
            const double difference = std::abs(a[c] - b[c]);
            if (difference > kLargestCell) return std::nullopt;
            total += difference;
        }
    }
    const double mean = total / (kCells * 3);
    if (mean > kLargestMean) return std::nullopt;
    return mean;
}

} // namespace

// Where the Exif record gives the photo's pixel size, it must describe this photo, not one it
// was edited from.
std::optional<TJPEGThumbnail> StandInThumbnail(const std::vector<std::uint8_t>& bytes,
                                               const JpegHeader& photo) {
    if (photo.grayscale || photo.width <= 0 || photo.height <= 0) return std::nullopt;
    const std::optional<EmbeddedThumbnail> found =
        FindEmbeddedThumbnail(bytes.data(), bytes.size());
    if (!found) return std::nullopt;
    if ((found->pixelWidth != 0 || found->pixelHeight != 0) &&
        (found->pixelWidth != static_cast<std::uint32_t>(photo.width) ||
         found->pixelHeight != static_cast<std::uint32_t>(photo.height)))
        return std::nullopt;
    const HeaderResult header =
        ReadJpegHeader(bytes.data() + found->offset, found->length, PictureLimits());
    const JpegHeader& own = header.header;
    constexpr int kSmallest = 16;
    constexpr std::int64_t kLargestPixels = 1024 * 1024;
    if (header.status != DecodeStatus::Ok || own.grayscale || own.width < kSmallest ||
        own.height < kSmallest || own.width >= photo.width || own.height >= photo.height ||
        std::int64_t{own.width} * own.height > kLargestPixels)
        return std::nullopt;
    return TJPEGThumbnail{found->offset, found->length, own.width, own.height};
}

// It touches nothing but data, which never changes after the load, so it runs on any thread.
std::optional<QImage> StandInFor(const TJPEGData& data) {
    if (!data.thumbnail) return std::nullopt;
    const TJPEGThumbnail& thumbnail = *data.thumbnail;
    const std::vector<QRect> rects =
        PhotoRectsIn(QSize(thumbnail.width, thumbnail.height), data.width, data.height);

    // The photo's top rows lie within the first part of its data: a quarter of the file
    // besides the thumbnail is far more than they take in any real photo.
    const std::int64_t size = data.Size();
    const std::int64_t prefix = std::min<std::int64_t>(
        size, static_cast<std::int64_t>(thumbnail.offset + thumbnail.length) + size / 4 + 65536);
    DecodeInput input;
    // A file that cannot be had again shows nothing here: the photo's own decode reports it.
    if (ReadInput(&data, input, prefix)) return std::nullopt;
    if (input.size < thumbnail.offset + thumbnail.length) return std::nullopt;

    ImageSink small;
    DecodeRequest request;
    request.data = input.data + thumbnail.offset;
    request.size = thumbnail.length;
    request.limits = PictureLimits();
    request.bitmap = small.Sink();
    const DecodeResult own = DecodeJpeg(request);
    if (own.status != DecodeStatus::Ok || own.ranOut || own.bitsPerPixel != 24 ||
        small.image.size() != QSize(thumbnail.width, thumbnail.height))
        return std::nullopt;

    const int scaledHeight = static_cast<int>(ScaledSide(data.height, 1));
    int rows = 0;
    for (const QRect& rect : rects)
        rows = std::max(rows, PhotoRowsUnderBand(rect, scaledHeight));
    ImageSink top;
    request.data = input.data;
    request.size = input.size;
    request.scaleEighths = 1;
    request.maxRows = rows;
    request.bitmap = top.Sink();
    const DecodeResult first = DecodeJpeg(request);
    if (first.status != DecodeStatus::Ok || first.ranOut || first.bitsPerPixel != 24 ||
        first.rowsDone < rows)
        return std::nullopt;

    // Where both placements pass (a smooth sky), the closer one.
    std::optional<QRect> best;
    double bestDifference = 0;
    for (const QRect& rect : rects) {
        const std::optional<double> difference =
            TopBandDifference(small.image, rect, top.image, scaledHeight);
        if (difference && (!best || *difference < bestDifference)) {
            best = rect;
            bestDifference = *difference;
        }
    }
    if (!best) return std::nullopt;
    return Upright(small.image.copy(*best), data.orientation);
}

} // namespace sorowa::jpeg
