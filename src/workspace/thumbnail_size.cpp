#include "workspace/thumbnail_size.h"

namespace sorowa {
namespace {
QSize thumbnailSize(0, 0);
QString& DefaultFolderValue() {
    static QString folder;
    return folder;
}
} // namespace

QSize ThumbnailSize() {
    return thumbnailSize;
}
void SetThumbnailSize(QSize size) {
    thumbnailSize = size;
}
QString DefaultFolder() {
    return DefaultFolderValue();
}
void SetDefaultFolder(const QString& folder) {
    DefaultFolderValue() = folder;
}

} // namespace sorowa
