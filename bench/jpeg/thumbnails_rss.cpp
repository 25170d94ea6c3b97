// Peak memory of a folder of large photos shown as thumbnails: loads N photo-like JPEGs
// (24 megapixels) from files into 100 x 100 stretched TImage controls, offscreen, paints
// every one, keeps them all, and reports the process's peak resident size (VmHWM).
//
//   thumbnails_rss FOLDER [COUNT=200] [--full-size | --camera]
//
// Missing photos are written to the folder first. --full-size first paints each control at
// the photo's full size, which forces a full-size bitmap, and then at 100 x 100: what every
// thumbnail kept when photos were decoded at full size (use a small COUNT). --camera uses the
// same photos as a camera writes them, with a thumbnail in their Exif segment.
#include "bench_photos.h"
#include "workspace/image.h"
#include "picture/jpeg/jpeg_image.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

void ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5"; // resets VmHWM to the current resident size
}

QString PhotoPath(const QString& folder, int i, bool camera) {
    return QStringLiteral("%1/%2%3.jpg")
        .arg(folder)
        .arg(camera ? "camera" : "photo")
        .arg(i, 3, 10, QChar('0'));
}

void MakePhotos(const QString& folder, int count, bool camera) {
    constexpr int kDistinct = 4;
    for (int i = 0; i < count; ++i) {
        const QString path = PhotoPath(folder, i, camera);
        if (QFile::exists(path)) continue;
        const auto seed = static_cast<unsigned>(i % kDistinct) + 1;
        const sorowa::bench::Bytes& bytes =
            camera ? sorowa::bench::CameraPhotoJpeg(6000, 4000, false, seed)
                   : sorowa::bench::PhotoJpeg(6000, 4000, false, seed);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) std::exit(2);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: thumbnails_rss FOLDER [COUNT] [--full-size | --camera]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    const bool fullSize = argc > 3 && std::string(argv[3]) == "--full-size";
    const bool camera = argc > 3 && std::string(argv[3]) == "--camera";
    QDir().mkpath(folder);
    MakePhotos(folder, count, camera);
    sorowa::RegisterJpegPicture();

    ResetPeak();
    const long startKb = StatusKb("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<sorowa::TImage>> thumbnails;
    std::size_t fileBytes = 0, bitmapBytes = 0;
    for (int i = 0; i < count; ++i) {
        auto image = std::make_unique<sorowa::TImage>();
        image->SetStretch(true);
        image->resize(100, 100);
        image->Picture().LoadFile(PhotoPath(folder, i, camera));
        auto* jpeg = static_cast<sorowa::TJPEGImage*>(image->Picture().Graphic());
        if (fullSize) image->resize(jpeg->Width(), jpeg->Height());
        if (fullSize) {
            QImage large(image->size(), QImage::Format_RGB32);
            image->render(&large); // decodes at full size
            image->resize(100, 100);
        }
        QImage screen(image->size(), QImage::Format_RGB32);
        image->render(&screen); // the control's paint, as on screen
        fileBytes += jpeg->Data()->bytes.size();
        bitmapBytes += static_cast<std::size_t>(jpeg->Bitmap().sizeInBytes());
        thumbnails.push_back(std::move(image));
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const long peakKb = StatusKb("VmHWM:");
    std::size_t fromThumbnails = 0;
    for (const auto& image : thumbnails)
        fromThumbnails +=
            static_cast<sorowa::TJPEGImage*>(image->Picture().Graphic())->FromEmbeddedThumbnail();
    std::printf("thumbnails: %d (%s), %zu from embedded thumbnails\n", count,
                fullSize ? "drawn at full size" : "100 x 100", fromThumbnails);
    std::printf("loaded and painted in %.2f s (%.1f ms per picture)\n", seconds,
                seconds * 1000 / count);
    std::printf("peak RSS before loading: %.1f MB\n", startKb / 1024.0);
    std::printf("peak RSS with all shown: %.1f MB (growth %.1f MB, %.2f MB per picture)\n",
                peakKb / 1024.0, (peakKb - startKb) / 1024.0, (peakKb - startKb) / 1024.0 / count);
    std::printf("file bytes kept in memory: %.1f MB; bitmaps kept: %.1f MB\n",
                fileBytes / 1048576.0, bitmapBytes / 1048576.0);
    sorowa::UnregisterJpegPicture();
    return 0;
}
