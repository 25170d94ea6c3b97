// Load and first draw of arbitrary bytes as a JPEG picture, then a larger draw (for pictures
// over 40 x 30 pixels, the decode again at a bigger scale). Anything but the picture's own errors
// is a finding.
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorowa;
    // One input byte picks the simulated display, so both the quantized 8-bit path and the
    // 24-bit path are reached.
    TJPEGImage picture;
    picture.SetContext({.display = {.bitsPerPixel = size > 0 && (data[size / 2] & 1) ? 8 : 24}});
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        picture.LoadFromStream(stream);
    } catch (const EJPEG&) {
        return 0;
    }
    QImage target(160, 120, QImage::Format_RGB32);
    QPainter painter(&target);
    TCanvas canvas(painter, 24);
    // A thumbnail-sized draw (1/8 of most inputs: progressive ones read only their first
    // scans), then larger ones that decode again.
    for (const QRect rect : {QRect(0, 0, 4, 3), QRect(0, 0, 40, 30), QRect(0, 0, 160, 120)}) {
        try {
            picture.Draw(canvas, rect);
        } catch (const EJPEG&) {
        }
    }
    return 0;
}
