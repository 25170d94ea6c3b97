#pragma once
// The rename commands over the thumbnail windows of a frame: each window's caption "n;name"
// gives the rename its numbered file name, and what the rename did goes back into the
// captions; messages and questions are boxes over the main window.

#include "rename/batch_rename.h"
#include "rename/renumber_command.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <vector>

class QWidget;

namespace sorowa {

class TForm_Grp;
class TForm_Henkou;

// The rename dialog's three values and the open folder.
TBatchRenameParams ParamsFromDialog(const TForm_Henkou& dialog, const QString& folder);

// The windows as numbered names, in the order of windows; a window whose caption carries no
// number has number 0.
std::vector<TNumberedName> NumberedNames(const QList<TForm_Grp*>& windows);

// The question of new names held by files outside the renumbering, as a box over parent, with
// "go on without them" and Cancel (the default).
bool AskToGoOnWithout(const QString& text, QWidget* parent);

// The batch rename, the renumbering and the undo of the last of them, for the windows of the
// open folder.
class TWindowRenamer {
public:
    explicit TWindowRenamer(QWidget* parent) : parent_(parent) {}

    bool CanUndo() const { return history_.CanUndo(); }
    void Clear() { history_.Clear(); }

    // Each throws Exception as its rename does (a number missing from the captions, a folder
    // that cannot be written).
    void BatchRename(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows);
    void Renumber(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows);
    void Undo(const QString& folder);

private:
    void Remember(const QList<TForm_Grp*>& windows);

    QWidget* parent_;
    TRenameHistory history_;
    // The window each owner of history_ stands for (an index into the list it was given).
    std::vector<QPointer<TForm_Grp>> owners_;
};

} // namespace sorowa
