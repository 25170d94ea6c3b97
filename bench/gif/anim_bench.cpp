// The GUI thread's share of an animation: per displayed frame of a 100-frame 500 x 500 GIF
// in a 100 x 100 thumbnail, composing the frame into the composed bitmap and stretching
// that into the thumbnail; and, once per frame, making its bitmap (done ahead by the render
// pool, but on the GUI thread too).
#include "../../tests/picture/gif/gif_anim_util.h"
#include "picture/gif/gif_frame_bitmap.h"
#include "picture/gif/gif_painter.h"
#include "platform/display.h"

#include <QPainter>
#include <benchmark/benchmark.h>

namespace sorowa {
namespace {

std::vector<std::uint8_t> HundredFrames() {
    std::vector<QRgb> colors;
    for (int i = 0; i < 256; ++i)
        colors.push_back(qRgb(i, 255 - i, (i * 7) & 0xFF));
    std::vector<giftest::AnimFrame> frames;
    for (int k = 0; k < 100; ++k) {
        giftest::AnimFrame f = giftest::SolidFrame(0, 0, 500, 500, 0, 10);
        for (int y = 0; y < 500; ++y)
            for (int x = 0; x < 500; ++x)
                f.pixels[static_cast<std::size_t>(y * 500 + x)] =
                    static_cast<std::uint8_t>((x / 4 + y / 4 + k) % 256);
        frames.push_back(std::move(f));
    }
    frames[0].loopCount = 0;
    return giftest::MakeAnimatedGif(500, 500, colors, frames);
}

struct Animation {
    Animation() { giftest::LoadGif(image, HundredFrames()); }
    TGIFImage image;
};

Animation& Shared() {
    static Animation animation;
    return animation;
}

void BM_MakeFrameBitmap(benchmark::State& state) {
    TGIFImage& image = Shared().image;
    int k = 0;
    for (auto _ : state) {
        gif::MakeFrameBitmap(image, image.Images()[k]);
        k = (k + 1) % 100;
    }
}
BENCHMARK(BM_MakeFrameBitmap)->Unit(benchmark::kMillisecond);

// What the GUI thread does per displayed frame: compose, then the thumbnail's repaint.
void BM_ComposeAndStretchPerFrame(benchmark::State& state) {
    TGIFImage& image = Shared().image;
    for (int k = 0; k < 100; ++k)
        if (image.Images()[k].maskNeeded) gif::MakeFrameBitmap(image, image.Images()[k]);
    QImage composed(500, 500, QImage::Format_RGB32);
    composed.fill(Qt::gray);
    QImage thumbnail(100, 100, QImage::Format_RGB32);
    TStretchCache stretch;
    int k = 0;
    for (auto _ : state) {
        gif::ComposeFrame(image, image.Images()[k], composed, true);
        QPainter painter(&thumbnail);
        TCanvas canvas(painter, 24);
        stretch.Draw(canvas, thumbnail.rect(), composed, 32);
        k = (k + 1) % 100;
    }
}
BENCHMARK(BM_ComposeAndStretchPerFrame)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace sorowa

BENCHMARK_MAIN();
