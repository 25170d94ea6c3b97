// Load and first draw of a 12-megapixel PNG and LZW TIFF through the plug-in path, against
// libpng's and libtiff's own decode of the same files into a buffer; the same TIFF in one
// strip; and TIFFs of a few hundred bytes claiming hundreds of megapixels in one strip (one
// found by fuzzing, one made so that its missing rows would be white). And each real
// 12-megapixel iPhone HEIC (../shared/modern, skipped when absent) through ifheif.spi against
// libheif's own decode of it to interleaved RGB, and its embedded thumbnail through the
// plug-in's GetPreview (what stands in while a thumbnail's decode runs).
//
// Run: bench/spi/plugins_bench   (makes its pictures with ImageMagick in /tmp on first use)
#include "picture/picture.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <vector>

namespace {

// A noisy 4000 x 3000 photo-like picture, so that the files compress like real ones.
QString Picture(const char* name, const QStringList& options) {
    const QString path = QStringLiteral("/tmp/sorowa-bench-") + QLatin1String(name);
    if (!QFileInfo::exists(path))
        QProcess::execute(QStringLiteral("convert"),
                          QStringList{"-size", "4000x3000", "gradient:navy-orange", "-attenuate",
                                      "0.4", "+noise", "Gaussian", "-depth", "8"} +
                              options + QStringList{path});
    return path;
}

const QString& Png() {
    static const QString path = Picture("12mp.png", {});
    return path;
}
const QString& Tiff() {
    static const QString path = Picture("12mp.tif", {"-compress", "LZW"});
    return path;
}

const QString& OneStripTiff() {
    static const QString path =
        Picture("12mp-one-strip.tif", {"-compress", "LZW", "-define", "tiff:rows-per-strip=3000"});
    return path;
}

struct Host {
    Host() {
        sorowa::RegisterSPIBitmap();
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/if*.spi"));
    }
    sorowa::TSPIs set;
};

// One plug-in set for the whole run: a second one is refused.
void UsePlugins() {
    static Host host;
}

// Load and draw; a file that turns out broken is timed up to its error (counted as such).
void PluginPath(benchmark::State& state, const QString& path) {
    UsePlugins();
    QImage target(100, 100, QImage::Format_RGB32);
    int broken = 0;
    for (auto _ : state) {
        sorowa::TPicture picture;
        try {
            picture.LoadFile(path);
        } catch (const sorowa::EInvalidGraphic&) {
            ++broken;
            continue;
        }
        QPainter painter(&target);
        sorowa::TCanvas canvas(painter, 32);
        picture.Graphic()->Draw(canvas, target.rect());
        benchmark::DoNotOptimize(target.bits());
    }
    state.counters["broken"] = broken;
}

void LibpngOwn(benchmark::State& state) {
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_file(&image, Png().toLocal8Bit().constData());
        image.format = PNG_FORMAT_BGR;
        std::vector<png_byte> buffer(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void LibtiffOwn(benchmark::State& state) {
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(Tiff().toLocal8Bit().constData(), "r");
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        std::vector<std::uint32_t> raster(std::size_t{width} * height);
        TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0);
        TIFFClose(tif);
        benchmark::DoNotOptimize(raster.data());
    }
}

const QString kIphoneHeic[] = {
    QStringLiteral(SOROWA_SOURCE_DIR "/../shared/modern/ath-iphone-3e12e195.HEIC"),
    QStringLiteral(SOROWA_SOURCE_DIR "/../shared/modern/ath-iphone-991825f7.HEIC"),
};

void LibheifOwn(benchmark::State& state, const QString& path) {
    if (!QFileInfo::exists(path)) return state.SkipWithError("no iPhone HEIC");
    for (auto _ : state) {
        heif_context* context = heif_context_alloc();
        heif_context_read_from_file(context, path.toLocal8Bit().constData(), nullptr);
        heif_image_handle* handle = nullptr;
        heif_context_get_primary_image_handle(context, &handle);
        heif_image* image = nullptr;
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          nullptr);
        benchmark::DoNotOptimize(image);
        heif_image_release(image);
        heif_image_handle_release(handle);
        heif_context_free(context);
    }
}

void HeicPluginPath(benchmark::State& state, const QString& path) {
    if (!QFileInfo::exists(path)) return state.SkipWithError("no iPhone HEIC");
    PluginPath(state, path);
}

void HeicPreview(benchmark::State& state, const QString& path) {
    if (!QFileInfo::exists(path)) return state.SkipWithError("no iPhone HEIC");
    UsePlugins();
    QImage target(100, 100, QImage::Format_RGB32);
    for (auto _ : state) {
        sorowa::TSPIBitmap picture;
        picture.UsePreview = true;
        picture.LoadFile(path);
        QPainter painter(&target);
        sorowa::TCanvas canvas(painter, 32);
        picture.Draw(canvas, target.rect());
        benchmark::DoNotOptimize(target.bits());
    }
}

BENCHMARK_CAPTURE(LibheifOwn, iphone_3e12, kIphoneHeic[0])
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(HeicPluginPath, iphone_3e12, kIphoneHeic[0])
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(LibheifOwn, iphone_9918, kIphoneHeic[1])
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(HeicPluginPath, iphone_9918, kIphoneHeic[1])
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(HeicPreview, iphone_3e12, kIphoneHeic[0])->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HeicPreview, iphone_9918, kIphoneHeic[1])->Unit(benchmark::kMillisecond);
BENCHMARK(LibpngOwn)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, png, Png())->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(LibtiffOwn)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, tiff, Tiff())->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, tiff_one_strip, OneStripTiff())
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, tiff_min_is_white_claiming_268_megapixels,
                  QStringLiteral(SOROWA_SOURCE_DIR
                                 "/fuzz/spi/corpus/min-is-white-268-megapixels-no-data.tif"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, tiff_tiles_claiming_268_megapixels,
                  QStringLiteral(SOROWA_SOURCE_DIR
                                 "/fuzz/spi/corpus/min-is-white-268-megapixels-16-empty-tiles.tif"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK_CAPTURE(PluginPath, tiff_claiming_219_megapixels,
                  QStringLiteral(SOROWA_SOURCE_DIR
                                 "/fuzz/spi/corpus/single-strip-219-megapixels.tif"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
