#pragma once
// Renaming every file of the open folder, in sequence order, to base name + zero-padded
// number + its own extension. Each file is renamed once, straight to its new name; a file
// whose new name is taken keeps its old name and the loop goes on.

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

namespace sorowa {

class TForm_Grp;

struct TBatchRenameParams {
    QString baseName;
    int digitCount = 1;     // 1 to 4
    int startNumber = 1;    // 0 to 9000
    QString folder;         // the open folder's full path
    bool companions = true; // files that belong to a picture go with it (companions.h)
};

// A file renamed along with the picture of window.
struct TRenamedFile {
    QPointer<TForm_Grp> window;
    QString from;
    QString to;
};

// The decimal number padded with zeros to digitCount characters, never shortened.
QString PaddedNumber(int number, int digitCount);
// base name + number text + "." + the text after the last "." of oldName.
QString NewFileName(const QString& baseName, const QString& numberText, const QString& oldName);

// Called once per file whose rename failed, with the text to show.
using RenameFailureReport = std::function<void(const QString& text)>;

// Renames the files of windows (the thumbnail windows of the frame, in frame order) and
// writes each new name into its window's caption; a picture renamed takes its companion files
// along (params.companions), and a companion that cannot follow is named in the picture's
// message. Returns the companions renamed. Throws Exception when no window carries one of the
// numbers 1..N.
std::vector<TRenamedFile> RunBatchRename(const TBatchRenameParams& params,
                                         const QList<TForm_Grp*>& windows,
                                         const RenameFailureReport& reportFailure);

} // namespace sorowa
