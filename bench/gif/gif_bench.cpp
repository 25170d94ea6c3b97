// Decode time of our GIF reader against giflib's DGifSlurp on the same bytes, in one run:
// a 2000 x 2000 photo-like picture with 256 colours and a 50-frame 500 x 500 animation, both
// encoded by giflib here. Compare the pairs: Ours/x against Giflib/x.
#include "picture/gif/gif_image.h"
#include "picture/stream.h"
#include "support/giflib_encoder.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gif_lib.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Smooth shading with fine texture, as a photo reduced to 256 colours looks to LZW.
Bytes PhotoPixels(int width, int height, int seed) {
    Bytes pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const double shade = 127.5 + 60 * std::sin((x + seed * 13) * 0.011) +
                                 50 * std::cos(y * 0.017 + x * 0.004);
            const int noise = static_cast<int>(state >> 29) - 4; // -4..3
            pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint8_t>(std::clamp(static_cast<int>(shade) + noise, 0, 255));
        }
    return pixels;
}

Bytes Encode(int width, int height, int frames) {
    std::vector<Bytes> pixels;
    for (int f = 0; f < frames; ++f)
        pixels.push_back(PhotoPixels(width, height, f));
    return sorowa::test::EncodeWithGiflib({.width = width, .height = height}, pixels);
}

const Bytes& Photo() {
    static const Bytes bytes = Encode(2000, 2000, 1);
    return bytes;
}

const Bytes& Animation() {
    static const Bytes bytes = Encode(500, 500, 50);
    return bytes;
}

void Ours(benchmark::State& state, const Bytes& bytes) {
    for (auto _ : state) {
        state.PauseTiming();
        sorowa::TMemoryStream stream(bytes);
        sorowa::TGIFImage image;
        state.ResumeTiming();
        image.LoadFromStream(stream);
        benchmark::DoNotOptimize(image.Images()[0].pixels.data());
        state.PauseTiming(); // freeing the frames is not decoding
        image.Clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void Giflib(benchmark::State& state, const Bytes& bytes) {
    struct Source {
        const Bytes* bytes;
        std::size_t pos;
    };
    for (auto _ : state) {
        Source source{&bytes, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(
            &source,
            [](GifFileType* g, GifByteType* out, int n) {
                auto* s = static_cast<Source*>(g->UserData);
                const std::size_t k =
                    std::min<std::size_t>(static_cast<std::size_t>(n), s->bytes->size() - s->pos);
                std::memcpy(out, s->bytes->data() + s->pos, k);
                s->pos += k;
                return static_cast<int>(k);
            },
            &error);
        if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("DGifSlurp failed");
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
        state.PauseTiming();
        DGifCloseFile(gif, &error);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void Ours_Photo2000(benchmark::State& s) {
    Ours(s, Photo());
}
void Giflib_Photo2000(benchmark::State& s) {
    Giflib(s, Photo());
}
void Ours_Animation50x500(benchmark::State& s) {
    Ours(s, Animation());
}
void Giflib_Animation50x500(benchmark::State& s) {
    Giflib(s, Animation());
}

BENCHMARK(Ours_Photo2000)->Unit(benchmark::kMillisecond);
BENCHMARK(Giflib_Photo2000)->Unit(benchmark::kMillisecond);
BENCHMARK(Ours_Animation50x500)->Unit(benchmark::kMillisecond);
BENCHMARK(Giflib_Animation50x500)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
