#include "jpeg_test_files.h"

#include <QPainter>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <memory>
#include <stdexcept>

namespace sorowa::test {
namespace {

struct TestErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void TestErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TestErrorManager*>(cinfo->err)->jump, 1);
}

int Clamp255(double v) {
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v);
}

} // namespace

QImage PhotoLike(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
            state = state * 1664525u + 1013904223u;
            const int grain = static_cast<int>(state >> 28) - 8; // sensor-like noise
            const double sky = 200 - 120 * v;
            const double hill = 60 * std::sin(u * 9 + seed) * std::cos(v * 7);
            const double disc = std::hypot(u - 0.6, v - 0.4) < 0.15 ? 70 : 0;
            const double leaves = 25 * std::sin(x * 0.21) * std::sin(y * 0.17 + u * 3);
            row[x] = qRgb(Clamp255(sky * 0.5 + hill + disc + leaves + grain),
                          Clamp255(sky * 0.8 - hill * 0.5 + leaves + grain),
                          Clamp255(sky + hill * 0.3 - disc + grain));
        }
    }
    return image;
}

Bytes EncodeJpeg(const QImage& source, const JpegOptions& options) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    jpeg_compress_struct cinfo{};
    TestErrorManager error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = TestErrorExit;
    struct Destination {
        unsigned char* bytes = nullptr;
        unsigned long size = 0;
    };
    const auto out = std::make_unique<Destination>(); // only the pointee changes after setjmp
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        std::free(out->bytes);
        throw std::runtime_error("libjpeg could not compress the test picture");
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out->bytes, &out->size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    switch (options.kind) {
    case JpegKind::Colour:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        break;
    case JpegKind::Grayscale:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    case JpegKind::Cmyk:
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    if (options.progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(image.width()) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto* pixels = reinterpret_cast<const QRgb*>(
            image.constScanLine(static_cast<int>(cinfo.next_scanline)));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = pixels[x];
            JSAMPLE* o = &row[static_cast<std::size_t>(x) * cinfo.input_components];
            if (options.kind == JpegKind::Colour) {
                o[0] = static_cast<JSAMPLE>(qRed(p));
                o[1] = static_cast<JSAMPLE>(qGreen(p));
                o[2] = static_cast<JSAMPLE>(qBlue(p));
            } else if (options.kind == JpegKind::Grayscale) {
                o[0] = static_cast<JSAMPLE>(qGray(p));
            } else {
                // Adobe-style inverted CMYK, which is what libjpeg writes with an Adobe marker.
                const int k = std::min({255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p)});
                const int c = 255 - qRed(p) - k, m = 255 - qGreen(p) - k, y = 255 - qBlue(p) - k;
                const int scale = 255 - k;
                auto ink = [&](int v) { return scale == 0 ? 0 : v * 255 / scale; };
                o[0] = static_cast<JSAMPLE>(255 - ink(c));
                o[1] = static_cast<JSAMPLE>(255 - ink(m));
                o[2] = static_cast<JSAMPLE>(255 - ink(y));
                o[3] = static_cast<JSAMPLE>(255 - k);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(out->bytes, out->bytes + out->size);
    std::free(out->bytes);
    return bytes;
}

QImage ReferenceDecode(const Bytes& jpeg) {
    jpeg_decompress_struct cinfo{};
    TestErrorManager error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = TestErrorExit;
    error.pub.emit_message = [](j_common_ptr, int) {};
    // Only the pointee changes after setjmp, so nothing in this frame is left indeterminate.
    const auto image = std::make_unique<QImage>();
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return QImage();
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    *image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    cinfo.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8
                                                           : QImage::Format_RGB32);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {image->scanLine(static_cast<int>(cinfo.output_scanline))};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return image->convertToFormat(QImage::Format_RGB32);
}

QImage BoxDownscale(const QImage& source, int factor) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int w = (image.width() + factor - 1) / factor, h = (image.height() + factor - 1) / factor;
    QImage out(w, h, QImage::Format_RGB32);
    for (int by = 0; by < h; ++by)
        for (int bx = 0; bx < w; ++bx) {
            long r = 0, g = 0, b = 0, n = 0;
            for (int y = by * factor; y < std::min((by + 1) * factor, image.height()); ++y)
                for (int x = bx * factor; x < std::min((bx + 1) * factor, image.width()); ++x) {
                    const QRgb p = image.pixel(x, y);
                    r += qRed(p), g += qGreen(p), b += qBlue(p), ++n;
                }
            out.setPixel(bx, by,
                         qRgb(static_cast<int>((r + n / 2) / n), static_cast<int>((g + n / 2) / n),
                              static_cast<int>((b + n / 2) / n)));
        }
    return out;
}

long FindMarker(const Bytes& jpeg, std::uint8_t code) {
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return static_cast<long>(i);
    return -1;
}

void SetFrameSize(Bytes& jpeg, int width, int height) {
    long sof = FindMarker(jpeg, 0xC0);
    if (sof < 0) sof = FindMarker(jpeg, 0xC2);
    if (sof < 0) throw std::runtime_error("no frame header");
    auto at = static_cast<std::size_t>(sof);
    jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
    jpeg[at + 6] = static_cast<std::uint8_t>(height);
    jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
    jpeg[at + 8] = static_cast<std::uint8_t>(width);
}

Bytes RepeatLastScan(const Bytes& jpeg, int count) {
    // The last SOS marker: scanning backwards, 0xFF 0xDA cannot occur inside entropy data
    // (0xFF there is always followed by 0x00 or a restart marker).
    long last = -1;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last = static_cast<long>(i);
    if (last < 0 || jpeg.size() < 2) throw std::runtime_error("no scan");
    const auto begin = jpeg.begin() + last, end = jpeg.end() - 2; // before the EOI
    Bytes out(jpeg.begin(), end);
    for (int i = 0; i < count; ++i)
        out.insert(out.end(), begin, end);
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

namespace {

// A TIFF structure written in one byte order.
class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : bigEndian_(bigEndian) {}
    void U16(unsigned value) { Put(value, 2); }
    void U32(std::uint32_t value) { Put(value, 4); }
    // One directory entry holding a single SHORT (type 3) or LONG (type 4).
    void Entry(unsigned tag, unsigned type, std::uint32_t value) {
        U16(tag);
        U16(type);
        U32(1);
        if (type == 3) {
            U16(value);
            U16(0);
        } else {
            U32(value);
        }
    }
    Bytes bytes;

private:
    void Put(std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = bigEndian_ ? 8 * (size - 1 - i) : 8 * i;
            bytes.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
    bool bigEndian_;
};

} // namespace

Bytes WithExifThumbnail(const Bytes& jpeg, const Bytes& thumbnail, const ExifOptions& options) {
    const bool exifDirectory = options.pixelWidth != 0 || options.pixelHeight != 0;
    const bool oriented = options.orientation != 0, hasThumbnail = !thumbnail.empty();
    TiffWriter tiff(options.bigEndian);
    tiff.bytes = options.bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    tiff.U16(42);
    tiff.U32(8);
    // The first directory: the orientation, the Exif directory's place, then the next
    // directory's.
    const auto firstEntries =
        static_cast<std::uint16_t>((oriented ? 1 : 0) + (exifDirectory ? 1 : 0));
    const std::uint32_t first = 8, firstSize = 2 + 12u * firstEntries + 4;
    const std::uint32_t exif = first + firstSize, exifSize = exifDirectory ? 2 + 2 * 12 + 4 : 0;
    const std::uint32_t second = exif + exifSize, secondSize = hasThumbnail ? 2 + 3 * 12 + 4 : 0;
    const std::uint32_t data = second + secondSize;
    tiff.U16(firstEntries);
    if (oriented) tiff.Entry(0x0112, 3, static_cast<std::uint32_t>(options.orientation));
    if (exifDirectory) tiff.Entry(0x8769, 4, exif);
    tiff.U32(hasThumbnail ? second : 0);
    if (exifDirectory) {
        tiff.U16(2);
        tiff.Entry(0xA002, 4, static_cast<std::uint32_t>(options.pixelWidth));
        tiff.Entry(0xA003, 3, static_cast<std::uint32_t>(options.pixelHeight));
        tiff.U32(0);
    }
    if (hasThumbnail) {
        tiff.U16(3);
        tiff.Entry(0x0103, 3, 6);
        tiff.Entry(0x0201, 4, data);
        tiff.Entry(0x0202, 4, static_cast<std::uint32_t>(thumbnail.size()));
        tiff.U32(0);
        tiff.bytes.insert(tiff.bytes.end(), thumbnail.begin(), thumbnail.end());
    }

    const std::size_t length = 2 + 6 + tiff.bytes.size();
    if (length > 0xFFFF) throw std::runtime_error("thumbnail too large for a segment");
    Bytes segment{0xFF,
                  0xE1,
                  static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length),
                  'E',
                  'x',
                  'i',
                  'f',
                  0,
                  0};
    segment.insert(segment.end(), tiff.bytes.begin(), tiff.bytes.end());
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes CameraThumbnail(const QImage& picture, int width, int height) {
    const QImage scaled =
        picture.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage thumbnail(width, height, QImage::Format_RGB32);
    thumbnail.fill(Qt::black);
    QPainter painter(&thumbnail);
    painter.drawImage((width - scaled.width()) / 2, (height - scaled.height()) / 2, scaled);
    painter.end();
    return EncodeJpeg(thumbnail, {JpegKind::Colour, false, 80});
}

Difference Compare(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    Difference d;
    if (x.size() != y.size()) {
        d.mean = d.largest = 1000;
        return d;
    }
    long total = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            for (int c : {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))}) {
                total += c;
                d.largest = std::max(d.largest, c);
            }
        }
    d.mean = static_cast<double>(total) / (3.0 * x.width() * x.height());
    return d;
}

} // namespace sorowa::test
