#pragma once
// The hidden file list of the main window: a folder, a mask of ";"-separated wildcard
// patterns, and the names of the folder's files that match, in ascending order ignoring
// letter case. Only regular files (or links to them) are listed: sub-folders, FIFOs, sockets,
// devices and hidden files (names starting with ".") never are.

#include <QString>
#include <QStringList>

namespace sorowa {

// "*" any run of characters, "?" one character, letter case ignored.
bool MatchesWildcard(const QString& pattern, const QString& name);

// Ascending, ignoring letter case; names equal but for case in binary order.
bool FileNameLess(const QString& a, const QString& b);

class TFileList {
public:
    QString Mask() const { return mask_; }
    void SetMask(const QString& mask) { mask_ = mask; }
    QString Directory() const { return directory_; }
    const QStringList& Items() const { return items_; }

    // Makes folder the current directory and reads the listing afresh. Throws
    // EInOutError when the folder cannot be entered or read.
    void SetDirectory(const QString& folder);

private:
    QString mask_ = QStringLiteral("*.bmp;*.wmf;*.emf;*.ico");
    QString directory_;
    QStringList items_;
};

} // namespace sorowa
