#include "app/folder_mask.h"

#include "picture/picture.h"
#include "platform/directories.h"

namespace sorowa {
namespace {

struct PluginPattern {
    const char* file;
    const char* pattern;
};

constexpr PluginPattern kPluginPatterns[] = {
    {"ifpi.spi", "*.pi"},   {"ifmag.spi", "*.mag"},   {"ifxld4.spi", "*.q4"},
    {"ifpic.spi", "*.pic"}, {"ifpic2.spi", "*.pic2"}, {"iftiff.spi", "*.tif"},
    {"ifpng.spi", "*.png"},
};

// An extension that makes a pattern of one extension. A plug-in pattern such as "*.*" or
// "*" registers "*", which would list every file of the folder, pictures or not; a pattern
// with ";" would split into others (tests/spi/spi_startup_test.cpp).
bool IsPlainExtension(const QString& extension) {
    if (extension.isEmpty()) return false;
    for (const QChar c : extension)
        if (c == u'*' || c == u'?' || c == u';' || c == u'/' || c.isSpace()) return false;
    return true;
}

} // namespace

QString PluginSearchPath(const platform::ProgramPlaces& places) {
    return platform::CurrentDirectory() + u';' + places.windowsDirectory + u';' +
           places.systemDirectory;
}

QString FileSearch(const QString& fileName, const QString& pathList) {
    if (platform::FileExists(fileName)) return fileName;
    qsizetype i = 0;
    while (i < pathList.size()) {
        while (i < pathList.size() && pathList[i] == u';')
            ++i;
        if (i >= pathList.size()) break;
        qsizetype end = pathList.indexOf(u';', i);
        if (end < 0) end = pathList.size();
        QString candidate = pathList.mid(i, end - i);
        if (!candidate.endsWith(u'/')) candidate += u'/';
        candidate += fileName;
        if (platform::FileExists(candidate)) return candidate;
        i = end;
    }
    return {};
}

QString BuildPluginFileMask(const QString& pathList) {
    QString mask = QString::fromLatin1(kBaseFolderMask);
    for (const PluginPattern& plugin : kPluginPatterns)
        if (!FileSearch(QString::fromLatin1(plugin.file), pathList).isEmpty())
            mask += u';' + QString::fromLatin1(plugin.pattern);
    return mask;
}

QString BuildFolderMask(const QString& pathList) {
    return FolderMaskFrom(BuildPluginFileMask(pathList));
}

QString FolderMaskFrom(const QString& pluginFileMask) {
    QStringList patterns = pluginFileMask.split(u';');
    // A picture the program can show is never hidden from the sequence: without this, a
    // file named .jpeg or .tiff was left out of the numbering although it decodes.
    for (const TFileFormat& format : PictureFormats()) {
        const QString pattern = QStringLiteral("*.") + format.extension;
        if (!IsPlainExtension(format.extension) || patterns.contains(pattern, Qt::CaseInsensitive))
            continue;
        patterns << pattern;
    }
    return patterns.join(u';');
}

} // namespace sorowa
