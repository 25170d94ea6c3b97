#pragma once
// Renaming a set of files of one folder whose new names may be the old names of others (a
// renumbering, a swap, a rotation, an undo): first every file moves to a temporary name that
// nothing else can hold, then each moves on to its new name. Every move is the platform's
// no-replace rename, so nothing is ever replaced: a new name held by a file outside the set
// fails for that file alone, which then goes back to its old name, or keeps its temporary name
// where the old one has been taken meanwhile. A journal in the folder (rename_journal.h)
// allows finishing or rolling back a rename that was cut short.

#include "rename/rename_journal.h"

#include <QString>
#include <functional>
#include <vector>

namespace sorowa {

namespace platform {
class FolderHandle;
}

struct TMove {
    QString from; // bare names within the folder
    QString to;
    QString back = {}; // where the file goes when to is taken; empty: from
    // Moves of one group (a picture and its companion files) reach their new names together
    // or all go back; -1: a group of its own.
    int group = -1;
};

struct TMoveOutcome {
    TPlace place = TPlace::kSource;
    QString nameNow;          // the name the file has afterwards
    int error = 0;            // errno of the failed move, 0 when the file reached its new name
    bool targetTaken = false; // its new name is held by another file
    bool heldBack = false;    // sent back because another file of its group could not move
};

// The steps of a rename, for tests that stop it after any one of them as a crash would.
enum class TRenameStep {
    kJournalWritten,
    kMovedToTemporary, // index: the move
    kJournalSynced,
    kMovedToTarget, // index: the move
    kHeldBack,      // index: the move, back from its new name with its group
    kSentBack,      // index: the move
    kJournalRemoved,
};
using TRenameStepHook = std::function<void(TRenameStep step, int index)>;

struct TTwoPhaseOptions {
    TRenameStepHook afterStep;
    bool takeOverJournal = false; // resuming: replace the folder's journal
    bool rollingBack = false;     // resuming backwards (see TRenameJournal)
};

// Moves every file of moves (from -> to, all names distinct) in folder. A move whose new name
// is its old name counts as done without touching the file. Throws Exception when the journal
// cannot be written: before the first move nothing has changed; later, the folder holds a
// journal that the next opening resumes.
// Every move goes through the folder's descriptor, so the whole rename happens in the folder
// that was opened; names must be plain entry names (no "/", not "." or "..").
std::vector<TMoveOutcome> RunTwoPhaseRename(const platform::FolderHandle& folder,
                                            const std::vector<TMove>& moves,
                                            const TTwoPhaseOptions& options = {});
// Opens folder for the rename; throws Exception when it cannot be opened.
std::vector<TMoveOutcome> RunTwoPhaseRename(const QString& folder, const std::vector<TMove>& moves,
                                            const TTwoPhaseOptions& options = {});

// Resumes a rename cut short: finish moves every file of the journal to the new name the
// user's rename gave it, otherwise back to the name it had before, by the same two phases;
// a file whose name is taken goes to the other one. Also when the rename cut short was itself
// a resumed one, finishing means the user's new names. Outcomes are in journal order.
std::vector<TMoveOutcome> ResumeRename(const platform::FolderHandle& folder,
                                       const TPendingRename& pending, bool finish,
                                       const TTwoPhaseOptions& options = {});

} // namespace sorowa
