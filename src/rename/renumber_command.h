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

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace sorowa {

namespace platform {
class FolderHandle;
}
struct TMoveOutcome;

// What the history knows of a picture is its index in the list of files the rename was given
// (its owner); the caller keeps what that index stands for.
class TRenameHistory {
public:
    bool CanUndo() const { return !entries_.empty(); }
    void Clear() { entries_.clear(); }
    // Notes the pictures whose names differ between before and after (the list given to a
    // batch rename and its result's names) and the companion files it renamed along with them.
    void RecordChanges(const QString& folder, const QStringList& before, const QStringList& after,
                       const std::vector<TRenamedFile>& companions = {});
    // companion: a file that went with owner's picture (the name of no picture).
    void Record(const platform::FolderHandle& folder, int owner, const QString& previous,
                const QString& given, bool companion = false);

    struct Entry {
        int owner = -1;
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

// Asked with the list of new names that files outside the renumbering hold, before anything
// moves: true to go on without those files (and the files that go with them).
using ClashQuestion = std::function<bool(const QString& text)>;

struct TRenumberResult {
    bool cancelled = false; // the user chose not to go on: nothing moved
    QStringList names;      // each file's name afterwards, in the order of files
    QString message;        // for the user; empty when every file reached its new name
};

// Renames files (a picture each) to the names of the batch rename, in sequence order, through
// the two phases, each picture together with its companion files (params.companions), and
// records the renames in history (owner: the index in files). New names held by files outside
// the renumbering are asked about first (without a question they are tried, and refused by the
// moves). Failures, of any number of files, give one message. Throws Exception when no file
// carries one of the numbers 1..N, or the folder cannot be written.
TRenumberResult RunRenumber(const TBatchRenameParams& params,
                            const std::vector<TNumberedName>& files, TRenameHistory& history,
                            const ClashQuestion& goOnWithout = {});

// The name a picture got back from an undo.
struct TNameChange {
    int owner = -1;
    QString name;
};
struct TUndoResult {
    std::vector<TNameChange> names;
    QString message; // for the user; empty when everything went back
};
// Takes back what history recorded, in folder; empties history. shown[owner] is the name the
// owner's picture shows now (empty when it is shown no more): a picture is taken back only
// while it still shows the name the rename gave it.
TUndoResult RunUndo(const QString& folder, TRenameHistory& history, const QStringList& shown);

// The message text for the files of a two-phase rename that did not reach their new names;
// empty when all did. wanted[i] is the name move i was to give.
QString FailureMessage(const std::vector<TMoveOutcome>& outcomes, const QStringList& wanted);

} // namespace sorowa
