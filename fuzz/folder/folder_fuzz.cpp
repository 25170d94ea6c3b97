// A whole folder from the input: names, kinds and contents of its entries, laid down in a
// scratch folder, then listed, loaded and drawn once into a thumbnail as opening the folder
// does, on a true-colour and on an 8-bit display. Nothing may hang (FIFOs and device links are
// among the entries), crash, or fail but with a picture's own errors.
//
// Input: entries one after another, each
//   kind (1 byte: 0 file, 1 FIFO, 2 link to /dev/zero, 3 link to the previous entry,
//         4 folder, 5 link to nowhere), name length (1 byte), name,
//   content length (2 bytes, little-endian; files only), content.
#include "picture/gif/gif_image.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/picture.h"
#include "platform/display.h"
#include "platform/errors.h"
#include "workspace/folder_listing.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool More() const { return pos < size; }
    int Byte() { return pos < size ? data[pos++] : -1; }
    QByteArray Take(std::size_t n) {
        n = std::min(n, size - pos);
        QByteArray bytes(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(n));
        pos += n;
        return bytes;
    }
};

// Names stay within the folder: no "/" and no NUL, never "." or "..".
QString SafeName(QByteArray raw, int index) {
    raw.replace('/', '_').replace('\0', '_');
    if (raw.isEmpty() || raw == "." || raw == "..") raw = "e" + QByteArray::number(index) + ".bmp";
    return QFile::decodeName(raw);
}

void LayDown(Reader& in, const QString& folder) {
    QString previous;
    for (int index = 0; in.More() && index < 64; ++index) {
        const int kind = in.Byte() % 6;
        const int nameLength = std::max(in.Byte(), 0);
        const QString name = SafeName(in.Take(static_cast<std::size_t>(nameLength)), index);
        const QString path = folder + u'/' + name;
        const QByteArray file = QFile::encodeName(path);
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) continue;
        switch (kind) {
        case 0: {
            const int low = std::max(in.Byte(), 0), high = std::max(in.Byte(), 0);
            QFile out(path);
            if (out.open(QIODevice::WriteOnly))
                out.write(in.Take(static_cast<std::size_t>(low | high << 8)));
            break;
        }
        case 1:
            mkfifo(file.constData(), 0600);
            break;
        case 2:
            symlink("/dev/zero", file.constData());
            break;
        case 3:
            if (!previous.isEmpty())
                symlink(QFile::encodeName(previous).constData(), file.constData());
            break;
        case 4:
            QDir().mkdir(path);
            break;
        default:
            symlink("nowhere", file.constData());
            break;
        }
        previous = path;
    }
}

void LoadAndDraw(const QString& path) {
    for (const int bits : {24, 8}) {
        sorowa::TPicture picture({.display = {.bitsPerPixel = bits}});
        try {
            picture.LoadFile(path);
            QImage thumbnail(100, 100, QImage::Format_RGB32);
            QPainter painter(&thumbnail);
            sorowa::TCanvas canvas(painter, bits);
            picture.Graphic()->Draw(canvas, thumbnail.rect());
        } catch (const sorowa::EInvalidGraphic&) {
        } catch (const sorowa::EFOpenError&) {
        } catch (const sorowa::EReadError&) {
        } catch (const sorowa::EOutOfResources&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "folder_fuzz";
    static char* argv[] = {name, nullptr};
    static auto app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto application = std::make_unique<QGuiApplication>(argc, argv);
        sorowa::RegisterJpegPicture();
        sorowa::RegisterGifPicture();
        return application;
    }();
    static const QString home = QDir::currentPath();
    QTemporaryDir scratch;
    if (!scratch.isValid()) return 0;
    Reader in{data, size};
    LayDown(in, scratch.path());
    sorowa::TFileList list;
    list.SetMask(QStringLiteral("*.bmp;*.gif;*.jpg;*.jpeg"));
    list.SetDirectory(scratch.path());
    for (const QString& entry : list.Items())
        LoadAndDraw(scratch.path() + u'/' + entry);
    QDir::setCurrent(home);
    return 0;
}
