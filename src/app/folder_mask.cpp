#include "app/folder_mask.h"

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

} // namespace

QString PluginSearchPath() {
    return platform::CurrentDirectory() + u';' + platform::WindowsDirectory() + u';' +
           platform::SystemDirectory();
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

QString BuildFolderMask(const QString& pathList) {
    QString mask = QString::fromLatin1(kBaseFolderMask);
    for (const PluginPattern& plugin : kPluginPatterns)
        if (!FileSearch(QString::fromLatin1(plugin.file), pathList).isEmpty())
            mask += u';' + QString::fromLatin1(plugin.pattern);
    return mask;
}

} // namespace sorowa
