#include "picture/jpeg/orientation.h"

#include <cstring>

namespace sorowa::jpeg {

bool SwapsSides(Orientation orientation) {
    return orientation >= 5 && orientation <= 8;
}

QImage Upright(const QImage& stored, Orientation orientation) {
    if (stored.isNull() || orientation < 2 || orientation > 8 || stored.depth() % 8 != 0)
        return stored;
    const int w = stored.width(), h = stored.height();
    const bool swap = SwapsSides(orientation);
    QImage out(swap ? h : w, swap ? w : h, stored.format());
    if (out.isNull()) return {};
    out.setColorTable(stored.colorTable());
    const int bytes = stored.depth() / 8;
    const int outWidth = out.width(), outHeight = out.height();
    // For each pixel of the upright picture, the stored pixel that shows there. In the
    // orientation's words: where the stored picture's first row and first column belong.
    for (int y = 0; y < outHeight; ++y) {
        uchar* row = out.scanLine(y);
        for (int x = 0; x < outWidth; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: // mirrored left to right
                sx = w - 1 - x;
                break;
            case 3: // turned half round
                sx = w - 1 - x, sy = h - 1 - y;
                break;
            case 4: // mirrored top to bottom
                sy = h - 1 - y;
                break;
            case 5: // mirrored across the main diagonal
                sx = y, sy = x;
                break;
            case 6: // stored turned a quarter anticlockwise: turn it clockwise
                sx = y, sy = h - 1 - x;
                break;
            case 7: // mirrored across the other diagonal
                sx = w - 1 - y, sy = h - 1 - x;
                break;
            case 8: // stored turned a quarter clockwise: turn it anticlockwise
                sx = w - 1 - y, sy = x;
                break;
            default:
                break;
            }
            std::memcpy(row + x * bytes, stored.constScanLine(sy) + sx * bytes,
                        static_cast<std::size_t>(bytes));
        }
    }
    return out;
}

} // namespace sorowa::jpeg
