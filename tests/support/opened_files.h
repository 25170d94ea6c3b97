#pragma once
// Records the files that the program asks the desktop to open, in place of starting the
// applications associated with them: while it lives it is QDesktopServices' handler of file
// URLs.

#include <QObject>
#include <QStringList>

class QUrl;

namespace sorowa::test {

class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles();
    ~OpenedFiles() override;

    // The full path of each file opened, decoded from the bytes that its URL carries.
    const QStringList& Paths() const { return paths_; }

private slots:
    void Open(const QUrl& url);

private:
    QStringList paths_;
};

} // namespace sorowa::test
