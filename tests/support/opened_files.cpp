#include "support/opened_files.h"

#include "platform/file_names.h"

#include <QDesktopServices>
#include <QUrl>

namespace sorowa::test {

OpenedFiles::OpenedFiles() {
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open");
}

OpenedFiles::~OpenedFiles() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void OpenedFiles::Open(const QUrl& url) {
    // The path is percent-encoded file name bytes, which need not be UTF-8.
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    paths_ << platform::DecodeFileName(bytes.toStdString());
}

} // namespace sorowa::test
