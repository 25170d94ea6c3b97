#pragma once
// Renaming every file of the open folder, in sequence order, to base name + zero-padded
// number + its own extension. Each file is renamed once, straight to its new name; a file
// whose new name is taken keeps its old name and the loop goes on.

#include "rename/numbered_name.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace sorowa {

struct TBatchRenameParams {
    QString baseName;
    int digitCount = 1;     // 1 to 4
    int startNumber = 1;    // 0 to 9000
    QString folder;         // the open folder's full path
    bool companions = true; // files that belong to a picture go with it (companions.h)
};

// A file renamed along with the picture files[file] of the rename.
struct TRenamedFile {
    int file = -1;
    QString from;
    QString to;
};

// The decimal number padded with zeros to digitCount characters, never shortened.
QString PaddedNumber(int number, int digitCount);
// base name + number text + "." + the text after the last "." of oldName.
QString NewFileName(const QString& baseName, const QString& numberText, const QString& oldName);

// What the caller hears while the rename goes, file by file.
struct TBatchRenameUi {
    // A picture, files[file], has its new name; may be empty.
    std::function<void(int file, const QString& newName)> renamed;
    // Once per file whose rename failed, with the text to show.
    std::function<void(const QString& text)> failed;
};

struct TBatchRenameResult {
    QStringList names;                    // each file's name afterwards, in the order of files
    std::vector<TRenamedFile> companions; // the companion files renamed
};

// Renames files (a picture each) in sequence order; a picture renamed takes its companion files
// along (params.companions), and a companion that cannot follow is named in the picture's
// message. Throws Exception when no file carries one of the numbers 1..N.
TBatchRenameResult RunBatchRename(const TBatchRenameParams& params,
                                  const std::vector<TNumberedName>& files,
                                  const TBatchRenameUi& ui);

} // namespace sorowa
