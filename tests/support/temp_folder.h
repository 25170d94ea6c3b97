#pragma once
// A temporary folder for one test, removed with everything in it afterwards.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <string>

namespace sorowa::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    QString Path() const { return dir_.path(); }
    QString File(const QString& name) const { return Path() + u'/' + name; }
    // Writes bytes to name (relative to the folder) and returns its full path.
    QString Write(const QString& name, const QByteArray& bytes) const;
    QString Write(const QString& name, const char* bytes) const {
        return Write(name, QByteArray(bytes));
    }
    QString Write(const QString& name, const std::string& bytes) const {
        return Write(name, QByteArray::fromStdString(bytes));
    }

private:
    QTemporaryDir dir_;
};

QByteArray ReadFileBytes(const QString& path);
// A valid 24-bit bitmap file of the given size filled with one colour.
QByteArray MakeBmp(int width, int height, unsigned rgb = 0x336699);

} // namespace sorowa::test
