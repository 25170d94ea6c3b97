// Load + first draw of a JPEG picture against plain libjpeg-turbo decodes of the same bytes,
// in the same run: (a) at the same DCT scale, (b) at full size into a freshly allocated
// buffer. The picture loads from a file, as the thumbnails do (the file is in the page cache;
// the plain decodes read the bytes from memory). Also what a picture keeps after its first
// draw (heap growth from before its load) against the bitmap it keeps. BM_CameraPicture is
// the same photo as a camera writes it, with its thumbnail in an Exif segment.
//
//   jpeg_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "bench_photos.h"
#include "picture/jpeg/jpeg_decoder.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <malloc.h>
#include <memory>

namespace {

using sorowa::bench::Bytes;
using sorowa::bench::CameraPhotoJpeg;
using sorowa::bench::PhotoJpeg;

struct Photo {
    int width, height;
};
const Photo kPhotos[] = {{4000, 3000}, {6000, 4000}}; // 12 and 24 megapixels
const int kSides[][2] = {{100, 100}, {640, 480}};

struct PlainError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// A plain libjpeg-turbo decode: memory source, default parameters but blue-green-red output,
// rows into a buffer allocated for this decode. Returns the bytes of output.
std::size_t PlainDecode(const Bytes& bytes, int scaleEighths) {
    jpeg_decompress_struct cinfo{};
    PlainError error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<PlainError*>(c->err)->jump, 1);
    };
    struct Buffer {
        unsigned char* pixels = nullptr;
    };
    static Buffer buffer; // only the pointee changes after setjmp
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        std::free(buffer.pixels);
        std::abort();
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = static_cast<unsigned>(scaleEighths);
    cinfo.scale_denom = 8;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t pitch = (cinfo.output_width * 3 + 3) & ~std::size_t{3};
    const std::size_t size = pitch * cinfo.output_height;
    buffer.pixels = static_cast<unsigned char*>(std::malloc(size));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const int n = std::min<int>(std::min(cinfo.rec_outbuf_height, 16),
                                    static_cast<int>(cinfo.output_height - cinfo.output_scanline));
        for (int i = 0; i < n; ++i)
            rows[i] = buffer.pixels + (cinfo.output_scanline + i) * pitch;
        jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(buffer.pixels[size / 2]);
    std::free(buffer.pixels);
    buffer.pixels = nullptr;
    return size;
}

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

const Bytes& PhotoFor(const benchmark::State& state) {
    const Photo& photo = kPhotos[state.range(0)];
    return PhotoJpeg(photo.width, photo.height, state.range(1) != 0);
}

std::string Label(const benchmark::State& state) {
    const Photo& photo = kPhotos[state.range(0)];
    return std::to_string(photo.width * photo.height / 1'000'000) + "MP " +
           (state.range(1) ? "progressive " : "baseline ") +
           std::to_string(kSides[state.range(2)][0]) + "x" +
           std::to_string(kSides[state.range(2)][1]) + " (" +
           std::to_string(PhotoFor(state).size() / 1024) + " KB file)";
}

// The photo as a file in a temporary folder, written once.
QString PhotoFile(const benchmark::State& state, bool camera = false) {
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("%1-%2-%3.jpg")
                                             .arg(camera ? "camera" : "photo")
                                             .arg(state.range(0))
                                             .arg(state.range(1)));
    if (!QFile::exists(path)) {
        const Photo& photo = kPhotos[state.range(0)];
        const Bytes& bytes = camera
                                 ? CameraPhotoJpeg(photo.width, photo.height, state.range(1) != 0)
                                 : PhotoFor(state);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) std::abort();
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    return path;
}

// Load from the file, then the first draw into a target of the draw size.
void LoadAndFirstDraw(sorowa::TJPEGImage& picture, const QString& path, QImage& target) {
    sorowa::TFileStream stream(path);
    picture.LoadFromStream(stream);
    QPainter painter(&target);
    sorowa::TCanvas canvas(painter, 24);
    picture.Draw(canvas, target.rect());
}

void PictureFromFile(benchmark::State& state, bool camera) {
    const QString path = PhotoFile(state, camera);
    const int w = kSides[state.range(2)][0], h = kSides[state.range(2)][1];
    QImage target(w, h, QImage::Format_RGB32);
    for (auto _ : state) {
        sorowa::TJPEGImage picture;
        LoadAndFirstDraw(picture, path, target);
        benchmark::DoNotOptimize(picture.Bitmap().constBits());
    }
    // What one picture keeps after its first draw.
    const std::size_t before = HeapInUse();
    sorowa::TJPEGImage picture;
    LoadAndFirstDraw(picture, path, target);
    const auto kept = static_cast<double>(HeapInUse() - before);
    const auto bitmap = static_cast<double>(picture.Bitmap().sizeInBytes());
    state.counters["kept_KB"] = kept / 1024;
    state.counters["bitmap_KB"] = bitmap / 1024;
    state.counters["kept_per_bitmap"] = kept / bitmap;
    const std::string source = picture.FromEmbeddedThumbnail()
                                   ? "from the embedded thumbnail"
                                   : "decoded at " + std::to_string(picture.DecodedScale()) + "/8";
    state.SetLabel(Label(state) + ", " + source + ", kept " +
                   std::to_string(picture.Bitmap().width()) + "x" +
                   std::to_string(picture.Bitmap().height()));
}

void BM_Picture(benchmark::State& state) {
    PictureFromFile(state, false);
}

void BM_CameraPicture(benchmark::State& state) {
    PictureFromFile(state, true);
}

// (a) plain libjpeg at the scale the picture chooses for the same draw.
void BM_PlainSameScale(benchmark::State& state) {
    const Bytes& bytes = PhotoFor(state);
    const Photo& photo = kPhotos[state.range(0)];
    const int scale = sorowa::jpeg::ChooseScale(
        photo.width, photo.height, kSides[state.range(2)][0], kSides[state.range(2)][1]);
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainDecode(bytes, scale));
    state.SetLabel(Label(state) + ", scale " + std::to_string(scale) + "/8");
}

// (b) plain libjpeg at full size into a new buffer.
void BM_PlainFullSize(benchmark::State& state) {
    const Bytes& bytes = PhotoFor(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainDecode(bytes, 8));
    state.SetLabel(Label(state));
}

void Arguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"photo", "progressive", "draw"})
        ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
}

void FullSizeArguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"photo", "progressive", "draw"})
        ->ArgsProduct({{0, 1}, {0, 1}, {0}})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
}

BENCHMARK(BM_Picture)->Apply(Arguments);
BENCHMARK(BM_CameraPicture)->Apply(Arguments);
BENCHMARK(BM_PlainSameScale)->Apply(Arguments);
BENCHMARK(BM_PlainFullSize)->Apply(FullSizeArguments);

} // namespace

BENCHMARK_MAIN();
