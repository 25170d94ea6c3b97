// Loads any bytes as a GIF and draws the first frame, on a true-colour and on a palette
// display. Only GIFException may come out; the sanitizers catch the rest.
#include "picture/gif/gif_image.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <memory>

namespace {

constexpr std::size_t kMostPixelsDithered = std::size_t{1} << 20;

void DrawOnce(sorowa::TGIFImage& image, int displayBits) {
    QImage target(37, 23, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    QPainter painter(&target);
    sorowa::TCanvas canvas(painter, displayBits);
    try {
        image.Draw(canvas, target.rect());
    } catch (const sorowa::GIFException&) {
        // "No global or local color table defined" and friends are ordinary outcomes.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "gif_fuzz";
    static char* argv[] = {name, nullptr};
    static auto app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }();
    sorowa::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
    for (const int bits : {24, 8}) {
        sorowa::TGIFImage image;
        image.SetContext({.display = {.bitsPerPixel = bits}});
        try {
            image.LoadFromStream(stream);
        } catch (const sorowa::GIFException&) {
            // Frames read before the error stay; drawing them must be safe too.
        }
        // Dithering for the palette display costs time in proportion to the frames' pixels
        // (whole seconds a picture under this build's tracing), and small frames reach every
        // branch of it; large ones are drawn on the true-colour display only.
        std::size_t pixels = 0;
        for (const auto& frame : image.Images())
            pixels += frame->pixels.size();
        if (bits == 24 || pixels <= kMostPixelsDithered) DrawOnce(image, bits);
        stream.SetPosition(0);
    }
    return 0;
}
