#pragma once
// Files that belong to a picture and follow it through a rename: a camera's RAW file, an XMP
// sidecar, a phone's edit (.AAE) or live part (.MOV) beside IMG_0001.JPG are IMG_0001.CR2,
// IMG_0001.xmp, IMG_0001.AAE, IMG_0001.MOV; a sidecar may also carry the picture's whole
// name, IMG_0001.JPG.xmp. Letter case does not matter. A companion takes its picture's new
// name in place of the part it shares with the old one and keeps the rest: with IMG_0001.JPG
// renamed photo01.JPG, IMG_0001.xmp becomes photo01.xmp and IMG_0001.JPG.xmp photo01.JPG.xmp.

#include <QString>
#include <QStringList>
#include <vector>

namespace sorowa {

namespace platform {
class FolderHandle;
}

struct TCompanion {
    QString name;
    int sharedLength = 0; // how many leading characters it shares with its picture's name
};

// For each of pictures (the listed names), the files among others that belong to it. A file
// belongs to the picture whose name, or name without its extension, is the longest that is
// followed by a "." in the file's name; a file that two pictures claim alike (IMG_1.xmp beside
// IMG_1.JPG and IMG_1.PNG) belongs to neither and is left alone.
std::vector<std::vector<TCompanion>> FindCompanions(const QStringList& pictures,
                                                    const QStringList& others);

// The companion's name after its picture (oldPicture) is renamed newPicture.
QString CompanionNewName(const QString& oldPicture, const TCompanion& companion,
                         const QString& newPicture);

// The names of the regular files of folder that are not among pictures and are none of the
// program's own (journal, temporary names): where companions are looked for.
QStringList OtherFiles(const platform::FolderHandle& folder, const QStringList& pictures);

} // namespace sorowa
