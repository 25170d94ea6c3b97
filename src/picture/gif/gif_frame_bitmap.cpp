#include "picture/gif/gif_frame_bitmap.h"

#include "picture/gif/gif_image.h"

#include <QPainter>
#include <algorithm>
#include <vector>

namespace sorowa::gif {
namespace {

constexpr int kCubeStep = 51;
constexpr int kFractionBits = 10;
constexpr int kOne = 1 << kFractionBits;
// Rendering progress is reported every this many rows.
constexpr int kProgressRows = 32;

int CubeLevel(int value) {
    return std::clamp((value + kCubeStep / 2) / kCubeStep, 0, 5);
}

// Level of a fixed-point channel value: round(value / 51), clamped to 0..5.
int CubeLevelFixed(int value) {
    if (value <= 0) return 0;
    return std::min(5, (value + kCubeStep * kOne / 2) / (kCubeStep * kOne));
}

void SetMaskBit(std::span<std::uint8_t> mask, int stride, int x, int y) {
    mask[static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
         static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

// Round half up of a / b for a >= 0, b > 0.
int RoundDiv(std::int64_t a, std::int64_t b) {
    return static_cast<int>((2 * a + b) / (2 * b));
}

std::optional<std::uint8_t> TransparentIndexOf(const TGIFSubImage& frame) {
    if (!frame.transparent || frame.graphicControl == nullptr) return std::nullopt;
    return frame.graphicControl->TransparentColorIndex();
}

// Pads a palette to 256 entries with black, so that any index byte has a colour.
QList<QRgb> FullTable(QList<QRgb> palette) {
    while (palette.size() < 256)
        palette.append(qRgb(0, 0, 0));
    return palette;
}

} // namespace

QList<QRgb> ColorCubePalette() {
    QList<QRgb> palette;
    palette.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.append(qRgb(r * kCubeStep, g * kCubeStep, b * kCubeStep));
    return palette;
}

std::uint8_t CubeIndex(int red, int green, int blue) {
    return static_cast<std::uint8_t>(CubeLevel(red) * 36 + CubeLevel(green) * 6 + CubeLevel(blue));
}

void DitherToCube(std::span<const std::uint8_t> indices, int width, int height,
                  const TGIFColorMap& colors, std::optional<std::uint8_t> transparentIndex,
                  std::span<std::uint8_t> out, int outStride, std::span<std::uint8_t> mask,
                  const std::function<void(int row)>& everyFewRows) {
    const int maskStride = ((width + 15) / 16) * 2;
    // Errors of this row and the next, per channel, with one spare pixel at each side.
    const auto rowLength = static_cast<std::size_t>(width + 2) * 3;
    std::vector<int> currentRow(rowLength, 0);
    std::vector<int> nextRow(rowLength, 0);
    for (int y = 0; y < height; ++y) {
        if (everyFewRows && y % kProgressRows == 0) everyFewRows(y);
        const bool forward = y % 2 == 0;
        const int step = forward ? 3 : -3;
        const std::uint8_t* row = indices.data() + static_cast<std::size_t>(y) * width;
        std::uint8_t* target = out.data() + static_cast<std::size_t>(y) * outStride;
        int* current = currentRow.data();
        int* next = nextRow.data();
        for (int i = 0; i < width; ++i) {
            const int x = forward ? i : width - 1 - i;
            const std::uint8_t index = row[x];
            int color[3] = {0, 0, 0};
            if (index < colors.Count()) {
                const TGIFColorMap::Entry& e = colors[index];
                color[0] = e.red;
                color[1] = e.green;
                color[2] = e.blue;
            }
            if (transparentIndex && index == *transparentIndex) {
                target[x] = CubeIndex(color[0], color[1], color[2]);
                if (!mask.empty()) SetMaskBit(mask, maskStride, x, y);
                continue;
            }
            // Pixel x keeps its errors at x + 1, so the spare slots take what falls off the ends.
            const int at = (x + 1) * 3;
            int level[3];
            for (int c = 0; c < 3; ++c) {
                const int value = (color[c] << kFractionBits) + current[at + c];
                level[c] = CubeLevelFixed(value);
                const int error = value - level[c] * kCubeStep * kOne;
                current[at + step + c] += (error * 7) >> 4;
                next[at - step + c] += (error * 3) >> 4;
                next[at + c] += (error * 5) >> 4;
                next[at + step + c] += error >> 4;
            }
            target[x] = static_cast<std::uint8_t>(level[0] * 36 + level[1] * 6 + level[2]);
        }
        std::swap(currentRow, nextRow);
        std::fill(nextRow.begin(), nextRow.end(), 0);
    }
}

QList<QRgb> FramePalette(const TGIFImage& image, TGIFSubImage& frame) {
    if (frame.cachedPalette) return *frame.cachedPalette;
    if (image.DitheringInForce()) {
        frame.cachedPalette = ColorCubePalette();
        return *frame.cachedPalette;
    }
    if (!frame.colorMap.Empty()) {
        frame.cachedPalette = frame.colorMap.ToPalette();
        return *frame.cachedPalette;
    }
    return image.PicturePalette();
}

void MakeFrameBitmap(TGIFImage& image, TGIFSubImage& frame) {
    image.ReportRendering(TProgressStage::Starting, 0);
    frame.ClearBitmap();
    const int width = frame.Width();
    const int height = frame.Height();
    const QList<QRgb> palette = FramePalette(image, frame);
    if (frame.Empty()) {
        frame.maskNeeded = false;
        image.ReportRendering(TProgressStage::Ending, 100);
        return;
    }
    if (frame.pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        throw GIFException(QString::fromLatin1(gifmsg::kInvalidData));
    const bool dither = image.DitheringInForce();
    const TGIFColorMap& colors = frame.ActiveColorMap();
    // Without any colour table there is nothing to map the indices through.
    if (dither && colors.Empty()) throw GIFException(QString::fromLatin1(gifmsg::kNoColorTable));

    const std::uint64_t bitmapBytes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) +
        (TransparentIndexOf(frame)
             ? static_cast<std::uint64_t>(frame.MaskStride()) * static_cast<std::uint64_t>(height)
             : 0);
    platform::DecodedBytesRequest bytes = image.Context().Budget().Reserve(bitmapBytes);
    if (!bytes.ok) throw GIFException(QString::fromLatin1(gifmsg::kOutOfMemory));
    QImage bitmap(width, height, QImage::Format_Indexed8);
    if (bitmap.isNull()) throw GIFException(QString::fromLatin1(gifmsg::kOutOfMemory));
    bitmap.setColorTable(FullTable(palette));

    const std::optional<std::uint8_t> transparentIndex = TransparentIndexOf(frame);
    std::vector<std::uint8_t> mask;
    if (transparentIndex)
        mask.assign(static_cast<std::size_t>(frame.MaskStride()) * static_cast<std::size_t>(height),
                    0);

    if (dither) {
        DitherToCube(frame.pixels, width, height, colors, transparentIndex,
                     std::span(bitmap.bits(), static_cast<std::size_t>(bitmap.sizeInBytes())),
                     static_cast<int>(bitmap.bytesPerLine()), mask, [&](int row) {
                         image.ReportRendering(TProgressStage::Running, row * 100 / height);
                     });
    } else {
        const int stride = frame.MaskStride();
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = frame.pixels.data() + static_cast<std::size_t>(y) * width;
            std::copy(row, row + width, bitmap.scanLine(y));
            if (transparentIndex) {
                for (int x = 0; x < width; ++x)
                    if (row[x] == *transparentIndex) SetMaskBit(mask, stride, x, y);
            }
            if (y % kProgressRows == 0)
                image.ReportRendering(TProgressStage::Running, y * 100 / height);
        }
    }
    frame.bitmap = std::move(bitmap);
    frame.bitmapLease = std::move(bytes.lease);
    frame.hasMask = std::any_of(mask.begin(), mask.end(), [](std::uint8_t b) { return b != 0; });
    if (frame.hasMask) frame.mask = std::move(mask);
    frame.cachedPalette = palette;
    frame.maskNeeded = false;
    image.ReportRendering(TProgressStage::Ending, 100);
}

bool FrameHasMask(TGIFImage& image, TGIFSubImage& frame) {
    if (frame.transparent && frame.maskNeeded) MakeFrameBitmap(image, frame);
    return frame.hasMask;
}

QRect FrameRect(const TGIFHeader& header, const TGIFSubImage& frame, const QRect& target) {
    // A screen of 0 in a direction leaves the frame's own extent as the whole picture.
    std::int64_t screenWidth = header.Width();
    std::int64_t screenHeight = header.Height();
    if (screenWidth == 0) screenWidth = frame.Left() + frame.Width();
    if (screenHeight == 0) screenHeight = frame.Top() + frame.Height();
    if (screenWidth == 0 || screenHeight == 0 || target.isEmpty()) return {};
    const std::int64_t tw = target.width();
    const std::int64_t th = target.height();
    const int left = target.left() + RoundDiv(frame.Left() * tw, screenWidth);
    const int right = target.left() + RoundDiv((frame.Left() + frame.Width()) * tw, screenWidth);
    const int top = target.top() + RoundDiv(frame.Top() * th, screenHeight);
    const int bottom = target.top() + RoundDiv((frame.Top() + frame.Height()) * th, screenHeight);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

namespace {

// The part visible of the frame bitmap stretched onto rect, by nearest pixel, with pixels
// under the mask (when masked) fully transparent. Only the visible part is made, so a frame
// whose rectangle reaches far beyond the target costs no more than the target
// (tests/data/gif/frame-far-outside-screen.gif).
QImage StretchVisible(const TGIFSubImage& frame, const QRect& rect, const QRect& visible,
                      bool masked) {
    QImage result(visible.size(), QImage::Format_ARGB32_Premultiplied);
    if (result.isNull()) return result;
    const std::int64_t fw = frame.Width();
    const std::int64_t fh = frame.Height();
    const QList<QRgb> table = frame.bitmap.colorTable();
    std::vector<int> columns(static_cast<std::size_t>(visible.width()));
    for (int i = 0; i < visible.width(); ++i)
        columns[static_cast<std::size_t>(i)] =
            static_cast<int>((visible.left() + i - rect.left()) * fw / rect.width());
    for (int j = 0; j < visible.height(); ++j) {
        const auto sy = static_cast<int>((visible.top() + j - rect.top()) * fh / rect.height());
        const std::uint8_t* source = frame.bitmap.constScanLine(sy);
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(j));
        for (int i = 0; i < visible.width(); ++i) {
            const int sx = columns[static_cast<std::size_t>(i)];
            line[i] = masked && frame.MaskBit(sx, sy) ? 0 : (table[source[sx]] | 0xFF000000u);
        }
    }
    return result;
}

} // namespace

void DrawFrame(TGIFImage& image, TGIFSubImage& frame, TCanvas& canvas, const QRect& target,
               bool transparent) {
    if (frame.maskNeeded) MakeFrameBitmap(image, frame);
    if (frame.Empty() || frame.bitmap.isNull()) return;
    const QRect rect = FrameRect(image.Header(), frame, target);
    const QRect visible = rect & target;
    if (visible.isEmpty()) return;
    const bool masked = transparent && frame.transparent && FrameHasMask(image, frame);
    if (!masked && visible == rect) {
        frame.stretchCache.Draw(canvas, rect, frame.bitmap, 8);
        return;
    }
    if (frame.stretchedFor != rect || frame.stretchedVisible != visible ||
        frame.stretchedMasked != masked || frame.stretched.isNull()) {
        frame.stretched = StretchVisible(frame, rect, visible, masked);
        frame.stretchedFor = rect;
        frame.stretchedVisible = visible;
        frame.stretchedMasked = masked;
    }
    if (frame.stretched.isNull()) throw GIFException(QString::fromLatin1(gifmsg::kOutOfMemory));
    QPainter& painter = canvas.Painter();
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(visible.topLeft(), frame.stretched);
    painter.restore();
}

} // namespace sorowa::gif
