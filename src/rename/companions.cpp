#include "rename/companions.h"

#include "platform/file_names.h"
#include "platform/folder_handle.h"

#include <QHash>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>

namespace sorowa {
namespace {

QString Stem(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.left(dot);
}

} // namespace

std::vector<std::vector<TCompanion>> FindCompanions(const QStringList& pictures,
                                                    const QStringList& others) {
    std::vector<std::vector<TCompanion>> found(static_cast<std::size_t>(pictures.size()));
    // Every prefix a companion may start with (a picture's name or its stem, then "."),
    // folded, with the pictures that have it.
    QHash<QString, std::vector<int>> owners;
    for (int i = 0; i < pictures.size(); ++i) {
        for (const QString& shared : {pictures[i], Stem(pictures[i])}) {
            if (shared.isEmpty()) continue;
            std::vector<int>& list = owners[(shared + u'.').toCaseFolded()];
            if (list.empty() || list.back() != i) list.push_back(i);
        }
    }
    const QSet<QString> listed(pictures.begin(), pictures.end());
    for (const QString& other : others) {
        if (listed.contains(other)) continue;
        const QString folded = other.toCaseFolded();
        // The longest claimed prefix decides; folding keeps these names' lengths, so a
        // length in the folded name is one in the name itself.
        for (qsizetype dot = folded.lastIndexOf(u'.'); dot > 0;
             dot = folded.lastIndexOf(u'.', dot - 1)) {
            const auto it = owners.constFind(folded.left(dot + 1));
            if (it == owners.constEnd()) continue;
            if (it->size() == 1 && folded.size() == other.size())
                found[static_cast<std::size_t>(it->front())].push_back({other, int(dot)});
            break;
        }
    }
    return found;
}

QString CompanionNewName(const QString& oldPicture, const TCompanion& companion,
                         const QString& newPicture) {
    const QString rest = companion.name.mid(companion.sharedLength);
    // Shared the whole name: the new name replaces it; shared the stem: the new stem does.
    if (companion.sharedLength == oldPicture.size()) return newPicture + rest;
    const QString stem = Stem(newPicture);
    return (stem.isEmpty() ? newPicture : stem) + rest;
}

QStringList OtherFiles(const platform::FolderHandle& folder, const QStringList& pictures) {
    QStringList names;
    const QSet<QString> listed(pictures.begin(), pictures.end());
    for (const std::string& raw : platform::EntryNames(folder)) {
        if (raw.starts_with(".sorowa-")) continue;
        struct stat info {};
        if (::fstatat(folder.Fd(), raw.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        const QString name = platform::DecodeFileName(raw);
        if (!listed.contains(name)) names << name;
    }
    return names;
}

} // namespace sorowa
