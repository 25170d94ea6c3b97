// Feeds arbitrary bytes to the bitmap reader and to TBitmap (load, then draw), checking the
// promises the rest of the program relies on: the reader never reads outside its span,
// a status other than Ok comes without a picture, and TBitmap fails only with the
// bitmap's own error kinds.
#include "picture/bitmap.h"
#include "picture/bmp_reader.h"
#include "picture/stream.h"

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Decode(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is a heap overflow that ASan reports.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const sorowa::bmp::BmpImage bmp = sorowa::bmp::DecodeBmp(bytes);
    using sorowa::bmp::BmpStatus;
    if (bmp.status != BmpStatus::Ok) {
        Check(bmp.image.isNull());
        Check(bmp.status != BmpStatus::Empty || size == 0);
        return;
    }
    Check(!bmp.image.isNull());
    Check(static_cast<std::uint64_t>(bmp.image.width()) * bmp.image.height() <=
          sorowa::bmp::kMaxPixels);
    Check(bmp.colorTable.size() <= 256);
}

void LoadAndDraw(const std::uint8_t* data, std::size_t size) {
    sorowa::TBitmap bitmap;
    try {
        sorowa::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        bitmap.LoadFromStream(stream);
    } catch (const sorowa::EInvalidGraphic&) {
        return;
    } catch (const sorowa::EReadError&) {
        return;
    } catch (const sorowa::EOutOfResources&) {
        return;
    }
    if (bitmap.Empty()) return;
    // Draw into a small target at a palette depth and a true-colour depth (both scaling
    // modes), growing and shrinking the picture.
    QImage target(24, 17, QImage::Format_RGB32);
    QPainter painter(&target);
    for (int bits : {8, 32}) {
        sorowa::TCanvas canvas(painter, bits);
        bitmap.Draw(canvas, QRect(0, 0, 24, 17));
        bitmap.Draw(canvas, QRect(3, 2, 5, 3));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Decode(data, size);
    LoadAndDraw(data, size);
    return 0;
}
