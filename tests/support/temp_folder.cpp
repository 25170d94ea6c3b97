#include "support/temp_folder.h"

#include <QFile>
#include <filesystem>
#include <stdexcept>

namespace sorowa::test {

TempFolder::TempFolder() {
    if (!dir_.isValid()) throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
    // Qt cannot remove names that are not valid UTF-8; the file system library can.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(dir_.path().toStdString()), ignored);
}

QString TempFolder::Write(const QString& name, const QByteArray& bytes) const {
    const QString path = File(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

namespace {
void Put16(QByteArray& b, int v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void Put32(QByteArray& b, qint64 v) {
    Put16(b, int(v & 0xFFFF));
    Put16(b, int((v >> 16) & 0xFFFF));
}
} // namespace

QByteArray MakeBmp(int width, int height, unsigned rgb) {
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray b;
    b.append("BM");
    Put32(b, 54 + stride * height);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, width);
    Put32(b, height);
    Put16(b, 1);
    Put16(b, 24);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            b.append(char(rgb & 0xFF));
            b.append(char((rgb >> 8) & 0xFF));
            b.append(char((rgb >> 16) & 0xFF));
        }
        b.append(QByteArray(stride - width * 3, '\0'));
    }
    return b;
}

} // namespace sorowa::test
