#include "platform/shell.h"

#include "platform/directories.h"
#include "platform/file_names.h"

#include <QDesktopServices>
#include <QUrl>

namespace sorowa::platform {

void ShellOpen(const QString& name) {
    const QString path = name.startsWith(u'/') ? name : CurrentDirectory() + u'/' + name;
    // The URL carries the name's own bytes, so names that are not UTF-8 open too.
    const QByteArray bytes = QByteArray::fromStdString(EncodeFileName(path));
    QDesktopServices::openUrl(QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/")));
}

} // namespace sorowa::platform
