// A folder of large photos opened in the real thumbnail frame: how soon the first thumbnails
// are drawn, how soon all visible ones are, and the GUI thread's longest busy stretch, against
// plain libjpeg-turbo 1/8 decodes of the same files run serially in the same run.
//
//   thumbnails_frame FOLDER [COUNT=80] [--camera]
//
// COUNT 12-megapixel baseline photos (four distinct pictures, written COUNT times; with
// --camera as a camera writes them, with a thumbnail in their Exif segment) are written to
// FOLDER if missing and read once into the page cache. The frame shows all of them at
// 100 x 100, ten to a row; windows are made and loaded inside one event, as the folder
// chooser's OK makes them.
#include "bench_photos.h"
#include "workspace/image.h"
#include "picture/jpeg/jpeg_image.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace {

using sorowa::bench::Bytes;

QString PhotoPath(const QString& folder, int i, bool camera) {
    return QStringLiteral("%1/%2%3.jpg")
        .arg(folder)
        .arg(camera ? "camera" : "photo")
        .arg(i, 3, 10, QChar('0'));
}

Bytes ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) std::exit(2);
    const QByteArray bytes = file.readAll();
    return Bytes(bytes.begin(), bytes.end());
}

struct PlainError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// A plain libjpeg-turbo decode at 1/8 from memory into a buffer of its own.
void PlainDecode(const Bytes& bytes, std::vector<unsigned char>& pixels) {
    jpeg_decompress_struct cinfo{};
    PlainError error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<PlainError*>(c->err)->jump, 1);
    };
    if (setjmp(error.jump) != 0) std::abort();
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t pitch = (cinfo.output_width * 3 + 3) & ~std::size_t{3};
    pixels.resize(pitch * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + cinfo.output_scanline * pitch;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: thumbnails_frame FOLDER [COUNT] [--camera]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 80;
    const bool camera = argc > 3 && std::string(argv[3]) == "--camera";
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        const QString path = PhotoPath(folder, i, camera);
        if (QFile::exists(path)) continue;
        const auto seed = static_cast<unsigned>(i % 4) + 1;
        const Bytes& bytes = camera ? sorowa::bench::CameraPhotoJpeg(4000, 3000, false, seed)
                                    : sorowa::bench::PhotoJpeg(4000, 3000, false, seed);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return 2;
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    std::vector<Bytes> files;
    for (int i = 0; i < count; ++i)
        files.push_back(ReadAll(PhotoPath(folder, i, camera))); // and into the page cache

    // Plain serial 1/8 decodes of the same files.
    QElapsedTimer timer;
    std::vector<unsigned char> pixels;
    timer.start();
    for (const Bytes& bytes : files)
        PlainDecode(bytes, pixels);
    const double plainMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    sorowa::RegisterJpegPicture();
    sorowa::SetThumbnailSize({100, 100});
    sorowa::TMdiFrame frame;
    const int columns = 10;
    frame.resize(columns * 108 + 20, ((count + columns - 1) / columns) * 131 + 20);
    frame.show();
    QList<sorowa::TForm_Grp*> windows;

    double loadMs = 0, firstMs = -1, someMs = -1, allMs = -1, busiestMs = 0;
    auto check = [&] {
        if (windows.size() != count) return;
        int decoded = 0, shown = 0;
        for (sorowa::TForm_Grp* window : windows) {
            const auto* jpeg =
                static_cast<sorowa::TJPEGImage*>(window->Image1()->Picture().Graphic());
            decoded += jpeg->Decoded();
            shown += jpeg->Decoded() || jpeg->FromEmbeddedThumbnail();
        }
        const double now = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (firstMs < 0 && decoded > 0) firstMs = now;
        if (someMs < 0 && shown == count) someMs = now;
        if (allMs < 0 && decoded == count) {
            allMs = now;
            QTimer::singleShot(100, &app, &QApplication::quit); // a few more rounds measured
        }
    };
    // The GUI thread's busy stretches show as a 5 ms timer firing late.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    // On a loaded machine lateness also counts time the thread waited for a core; the GUI
    // thread's own CPU time between two ticks does not.
    qint64 lastTickNs = -1;
    double lastCpuMs = -1, busiestCpuMs = 0;
    auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = timer.nsecsElapsed();
        const double cpu = cpuMs();
        if (lastTickNs >= 0) {
            busiestMs = std::max(busiestMs, static_cast<double>(now - lastTickNs) / 1e6 - 5);
            busiestCpuMs = std::max(busiestCpuMs, cpu - lastCpuMs);
        }
        lastTickNs = now;
        lastCpuMs = cpu;
        check();
    });
    QTimer::singleShot(200, &app, [&] {
        // The chooser's OK: every window made and loaded in one handler.
        timer.restart();
        for (int i = 0; i < count; ++i) {
            auto* window = new sorowa::TForm_Grp(&frame);
            window->move(8 + (i % columns) * 108, 8 + (i / columns) * 131);
            window->LoadPicture(QString::number(i + 1), PhotoPath(folder, i, camera));
            windows.append(window);
        }
        loadMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        busiestMs = 0;
        lastTickNs = timer.nsecsElapsed();
        lastCpuMs = cpuMs();
        tick.start(5);
    });
    app.exec();

    std::printf("%d photos of 4000 x 3000%s, %d decode threads\n", count,
                camera ? " with a camera thumbnail" : "", frame.Decodes().Threads());
    std::printf("plain libjpeg-turbo 1/8, serial: %.0f ms (%.1f ms each)\n", plainMs,
                plainMs / count);
    std::printf("making and loading the windows (one handler): %.0f ms\n", loadMs);
    std::printf("first thumbnail decoded: %.0f ms after the OK\n", firstMs);
    std::printf("every thumbnail showing something: %.0f ms\n", someMs);
    std::printf("every thumbnail decoded: %.0f ms = %.2f x the plain serial decodes\n", allMs,
                allMs / plainMs);
    std::printf(
        "longest GUI-thread busy stretch after the handler (5 ms timer lateness): %.1f ms\n",
        busiestMs);
    std::printf("most GUI-thread CPU time between two ticks: %.1f ms\n", busiestCpuMs);
    for (sorowa::TForm_Grp* window : windows)
        window->close();
    sorowa::UnregisterJpegPicture();
    return 0;
}
