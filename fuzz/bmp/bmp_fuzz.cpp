// Feeds arbitrary bytes to the bitmap reader and to TBitmap (load, then draw), checking the
// promises the rest of the program relies on: the reader never reads outside its span, the
// pixels sampled one by one are those of the whole picture, and TBitmap fails only with the
// bitmap's own error kinds.
#include "picture/bitmap.h"
#include "picture/bmp_reader.h"
#include "picture/stream.h"

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Decode(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is a heap overflow that ASan reports.
    const std::vector<std::uint8_t> bytes(data, data + size);
    using sorowa::bmp::BmpStatus;
    const sorowa::bmp::BmpHeader header = sorowa::bmp::ReadBmpHeader(bytes, bytes.size());
    Check(header.status != BmpStatus::NeedMore);
    if (header.status != BmpStatus::Ok) {
        Check(header.status != BmpStatus::Empty || size == 0);
        return;
    }
    Check(static_cast<std::uint64_t>(header.width) * header.height <= sorowa::bmp::kMaxPixels);
    Check(header.colorTable.size() <= 256);
    Check(header.pixelStart + header.pixelBytes <= size);
    // Sampling every pixel must give the whole picture, wherever the whole picture is small
    // enough to be decoded whole; large ones are only sampled, sparsely.
    const auto sampler = [&](std::span<const int> columns, std::span<const int> rows) {
        return sorowa::bmp::DecodeBmpSampled(
            header,
            [&bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
                if (offset >= bytes.size()) return std::size_t{0};
                const auto n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(out.size(), bytes.size() - offset));
                std::memcpy(out.data(), bytes.data() + offset, n);
                return n;
            },
            columns, rows);
    };
    if (static_cast<std::uint64_t>(header.width) * header.height >
        sorowa::TBitmap::kWholeDecodePixels) {
        std::vector<int> columns, rows;
        for (int i = 0; i < 17; ++i) {
            columns.push_back(static_cast<int>(static_cast<std::int64_t>(header.width) * i / 17));
            rows.push_back(static_cast<int>(static_cast<std::int64_t>(header.height) * i / 17));
        }
        Check(!sampler(columns, rows).isNull());
        return;
    }
    const sorowa::bmp::BmpImage bmp = sorowa::bmp::DecodeBmp(bytes);
    Check(bmp.status == BmpStatus::Ok && !bmp.image.isNull());
    std::vector<int> columns(static_cast<std::size_t>(header.width)),
        rows(static_cast<std::size_t>(header.height));
    for (std::size_t i = 0; i < columns.size(); ++i)
        columns[i] = static_cast<int>(i);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<int>(i);
    Check(sampler(columns, rows) == bmp.image.convertToFormat(QImage::Format_RGB32));
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
