#pragma once
// Process-wide values of the workspace: the thumbnail size (client size of every thumbnail
// window and the unit of the grid) and the default folder that the folder chooser opens at.

#include <QSize>
#include <QString>

namespace sorowa {

QSize ThumbnailSize(); // 0 x 0 until the main window is first shown
void SetThumbnailSize(QSize size);

QString DefaultFolder();
void SetDefaultFolder(const QString& folder);

} // namespace sorowa
