#pragma once
// Renumbering the open folder safely and taking back the last rename.
//
// The renumbering gives the files the same names as the batch rename (batch_rename.h) but
// through the two phases of two_phase_rename.h, so new names that are old names of other files
// of the sequence no longer fail. The history keeps what the last rename or renumbering of the
// open folder did, so that it can be undone: every file that still is the file given its new
// name gets its old name back; files changed or gone since are left alone and named.

#include "platform/file_identity.h"
#include "rename/batch_rename.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace sorowa {

namespace platform {
class FolderHandle;
}
class TForm_Grp;
class TForm_Henkou;
struct TMoveOutcome;

// The rename dialog's three values and the open folder.
TBatchRenameParams ParamsFromDialog(const TForm_Henkou& dialog, const QString& folder);

// A window and the file name its caption carries.
struct TCaptionName {
    QPointer<TForm_Grp> window;
    QString fileName;
};
std::vector<TCaptionName> CaptureFileNames(const QList<TForm_Grp*>& windows);

class TRenameHistory {
public:
    bool CanUndo() const { return !entries_.empty(); }
    void Clear() { entries_.clear(); }
    // Notes the files whose caption names changed between before and now (a batch rename).
    // and the companion files it renamed along with them.
    void RecordChanges(const QString& folder, const std::vector<TCaptionName>& before,
                       const std::vector<TRenamedFile>& companions = {});
    // companion: a file that went with window's picture (shown by no caption).
    void Record(const platform::FolderHandle& folder, TForm_Grp* window, const QString& previous,
                const QString& given, bool companion = false);

    struct Entry {
        QPointer<TForm_Grp> window;
        QString previous;                               // the name before the rename
        QString given;                                  // the name the rename gave
        std::optional<platform::FileIdentity> identity; // of the file right after it
        bool companion = false;
    };
    const QString& Folder() const { return folder_; }
    std::vector<Entry> Take();

private:
    QString folder_;
    std::vector<Entry> entries_;
};

// Called with the text of one message for the user.
using RenumberReport = std::function<void(const QString& text)>;
// Asked with the list of new names that files outside the renumbering hold, before anything
// moves: true to go on without those files (and the files that go with them).
using ClashQuestion = std::function<bool(const QString& text)>;
// The question as a box over parent, with "go on without them" and Cancel (the default).
bool AskToGoOnWithout(const QString& text, QWidget* parent);

// Renames the files of windows (a frame's thumbnail windows) to the names of the batch rename,
// in sequence order, through the two phases, each picture together with its companion files
// (params.companions); writes each file's name into its caption and records the renames in
// history. New names held by files outside the renumbering are asked about first (without a
// question they are tried, and refused by the moves). Failures, of any number of files, give one
// message. Throws Exception when no window carries one of the numbers 1..N, or the folder cannot be
// written.
void RunRenumber(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows,
                 TRenameHistory& history, const RenumberReport& report,
                 const ClashQuestion& goOnWithout = {});

// Takes back what history recorded, in folder; empties history.
void RunUndo(const QString& folder, TRenameHistory& history, const RenumberReport& report);

// The message text for the files of a two-phase rename that did not reach their new names;
// empty when all did. wanted[i] is the name move i was to give.
QString FailureMessage(const std::vector<TMoveOutcome>& outcomes, const QStringList& wanted);

} // namespace sorowa
