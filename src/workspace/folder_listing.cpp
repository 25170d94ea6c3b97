#include "workspace/folder_listing.h"

#include "platform/directories.h"
#include "platform/file_names.h"

#include <QApplication>
#include <QCursor>
#include <algorithm>

namespace sorowa {
namespace {

bool SameLetter(QChar a, QChar b) {
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// Shows the wait cursor from the moment it is asked for until the listing is done.
class WaitCursor {
public:
    void Show() {
        if (shown_ || QApplication::instance() == nullptr) return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        shown_ = true;
    }
    ~WaitCursor() {
        if (shown_) QApplication::restoreOverrideCursor();
    }

private:
    bool shown_ = false;
};

constexpr qsizetype kWaitCursorFrom = 101;

} // namespace

bool MatchesWildcard(const QString& pattern, const QString& name) {
    // Iterative match with one back-tracking point for the last "*".
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || SameLetter(pattern[p], name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool FileNameLess(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

void TFileList::SetDirectory(const QString& folder) {
    platform::SetCurrentDirectory(folder);
    directory_ = folder;
    items_.clear();
    const std::vector<platform::DirectoryEntry> entries = platform::ReadDirectory(folder);
    const QStringList patterns = mask_.split(u';', Qt::SkipEmptyParts);
    WaitCursor wait;
    for (const platform::DirectoryEntry& entry : entries) {
        // Only regular files are pictures: a FIFO, socket or device (or a link to one) named
        // like a picture would block or never end when read, so it is left out like a folder
        // (tests/workspace/hostile_folder_test.cpp).
        if (!entry.isRegular || entry.name.startsWith(u'.')) continue;
        const bool listed = std::any_of(patterns.begin(), patterns.end(), [&](const QString& p) {
            return MatchesWildcard(p, entry.name);
        });
        if (!listed) continue;
        items_.append(entry.name);
        if (items_.size() == kWaitCursorFrom) wait.Show();
    }
    std::sort(items_.begin(), items_.end(), FileNameLess);
}

} // namespace sorowa
