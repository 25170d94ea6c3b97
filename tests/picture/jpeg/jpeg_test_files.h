#pragma once
// JPEG files for the tests, made at test time with libjpeg's compressor, and a plain libjpeg
// decode to compare against.

#include <QImage>
#include <cstdint>
#include <vector>

namespace sorowa::test {

using Bytes = std::vector<std::uint8_t>;

enum class JpegKind { Colour, Grayscale, Cmyk };

struct JpegOptions {
    JpegKind kind = JpegKind::Colour;
    bool progressive = false;
    int quality = 90;
};

// A smooth, photo-like test picture (gradients, soft shapes, some texture), RGB32.
QImage PhotoLike(int width, int height, unsigned seed = 1);
// Compresses image (RGB32) with libjpeg.
Bytes EncodeJpeg(const QImage& image, const JpegOptions& options = {});
// A full-size decode with plain libjpeg, RGB32; null image when libjpeg fails.
QImage ReferenceDecode(const Bytes& jpeg);
// Averages each factor x factor block (area scaling), rounding sizes up as libjpeg does.
QImage BoxDownscale(const QImage& image, int factor);

// Byte surgery on a JPEG stream.
// Offset of the first marker with this code (0xC0 for SOF0 ...), or -1.
long FindMarker(const Bytes& jpeg, std::uint8_t code);
// Rewrites the frame header's height and width.
void SetFrameSize(Bytes& jpeg, int width, int height);
// Repeats the last scan (SOS segment and its data) count more times before the EOI.
Bytes RepeatLastScan(const Bytes& jpeg, int count);

// A camera's Exif segment (APP1) holding thumbnail, put right after the SOI. pixelWidth and
// pixelHeight, when not 0, go into the Exif directory as the photo's size; orientation, when
// not 0, into the first directory as its orientation tag. An empty thumbnail leaves the
// second directory out.
struct ExifOptions {
    bool bigEndian = false;
    int pixelWidth = 0, pixelHeight = 0;
    int orientation = 0;
};
Bytes WithExifThumbnail(const Bytes& jpeg, const Bytes& thumbnail, const ExifOptions& options = {});
// What a camera stores: the picture scaled into width x height, between black bars where its
// proportions differ, compressed at quality 80.
Bytes CameraThumbnail(const QImage& picture, int width = 160, int height = 120);

// Mean and largest absolute difference per channel between two images of the same size.
struct Difference {
    double mean = 0;
    int largest = 0;
};
Difference Compare(const QImage& a, const QImage& b);

} // namespace sorowa::test
