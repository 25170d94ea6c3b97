#pragma once
// The journal of a two-phase rename: a small hidden file in the folder that says, at every
// moment, enough to tell where each file of the rename is, so that a rename cut short (the
// program killed, the machine down) can be finished or rolled back at the next opening.
//
// It is written and synced before the first move. Afterwards only intents are appended, each
// synced before the moves it announces; where a file is follows from the intents and from
// whether its temporary name exists (temporary names are unique to one rename):
//   temporary name exists                    -> under the temporary name
//   "F i" (its first move failed)            -> under its old name
//   "B i" (sent back after a failed move)    -> under its fallback name
//   "T a b" with a <= i <= b (final moves)   -> under its new name
//   otherwise                                -> under its old name
// Names are stored as the hex of their bytes, so any name survives. A line without its line
// feed was cut off by the crash and announced nothing that happened.

#include <QString>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace sorowa {

namespace platform {
class FolderHandle;
}

inline constexpr char kRenameJournalName[] = ".sorowa-rename-journal";
// A journal is a few lines per file; one larger than this was not written by this program.
inline constexpr std::int64_t kRenameJournalMaxBytes = 1 << 20;

// The name a file has between the two moves of a rename: hidden, matched by no picture
// pattern, and unique to one rename through its random token.
QString TemporaryRenameName(std::uint64_t token, int index);

struct TJournalEntry {
    QString from;      // the name before the rename
    QString temporary; // collision-proof name between the two moves
    QString to;        // the new name
    // Where the file goes back to when its new name is taken: its old name, but for a rename
    // that resumes one cut short, the other name of the sequence (the new name when rolling
    // back, the old one when finishing), never a temporary name.
    QString back;
    int group = -1; // files of one group move together (see TMove); -1: none
};

// kSource: under from; kBack: under back (after a failed move).
enum class TPlace { kSource, kTemporary, kTarget, kBack };

// An open journal; every write throws Exception when the folder cannot be written.
class TRenameJournal {
public:
    // Writes the plan as the folder's journal and syncs file and folder. A journal already
    // in the folder is replaced only when replaceExisting (a resumed rename takes over the
    // journal of the one it resumes); otherwise it is an error.
    // rollingBack: the rename takes files back to the names they had before an earlier rename
    // (its new names are those one's old names), so that a later roll back goes forward.
    TRenameJournal(const platform::FolderHandle& folder, const std::vector<TJournalEntry>& entries,
                   bool replaceExisting, bool rollingBack = false);
    ~TRenameJournal();
    TRenameJournal(const TRenameJournal&) = delete;
    TRenameJournal& operator=(const TRenameJournal&) = delete;

    void FirstMoveFailed(int index);
    void FinalMoves(int first, int last);
    void SendBack(int index);
    // Writes what was noted since the last sync and syncs it.
    void Sync();
    // Syncs the folder, so that the moves last, then removes the journal.
    void Remove();

private:
    const platform::FolderHandle& folder_;
    int fd_ = -1;
    std::string pending_;
};

// A journal found in a folder, with the place of each of its files.
struct TPendingRename {
    std::vector<TJournalEntry> entries;
    std::vector<TPlace> places;
    bool rollingBack = false; // to holds the names before the user's rename, back the new ones
    // Whether every file has the name it had before the user's rename (nothing to roll
    // back), or every file the new name (nothing to finish).
    bool AllAtOldNames() const;
    bool AllAtNewNames() const;
};

// What a journal's bytes say, before anything in the folder is looked at. The journal is a
// stranger's data when the folder came from elsewhere, so the parse is strict: every name is
// a plain entry name of the folder, every temporary name one this program makes, no name
// twice, every intent about an entry of the plan, and the plan complete up to its end line
// (it is synced whole under another name before it becomes the journal).
struct TJournalText {
    std::vector<TJournalEntry> entries;
    bool rollingBack = false;
    bool planEnded = false;
    std::vector<int> failed;
    std::vector<int> sentBack;
    std::vector<std::pair<int, int>> finalMoves;
};
struct TJournalParse {
    bool ok = false;
    QString reason; // when !ok: why, for the user
    TJournalText text;
};
TJournalParse ParseRenameJournal(std::span<const char> bytes);

struct TJournalRead {
    enum class Status {
        kNone,    // the folder has no journal
        kRefused, // it has one that cannot be trusted: reason says why; it is left as it is
        kFound,
    };
    Status status = Status::kNone;
    QString reason;
    TPendingRename pending;
};
// Reads the folder's journal and finds the place of each of its files. Only a regular file of
// this user's, of at most kRenameJournalMaxBytes, is read (never through a link, never
// waiting on a FIFO), and only a journal whose files are all where it says is found.
TJournalRead ReadRenameJournal(const platform::FolderHandle& folder);
// The message for a journal refused with reason.
QString RefusedJournalMessage(const platform::FolderHandle& folder, const QString& reason);
void RemoveRenameJournal(const platform::FolderHandle& folder);

// The name a file of entry has at place.
const QString& NameAt(const TJournalEntry& entry, TPlace place);
// The user's new and old name of an entry of pending.
const QString& NewNameOf(const TPendingRename& pending, const TJournalEntry& entry);
const QString& OldNameOf(const TPendingRename& pending, const TJournalEntry& entry);

} // namespace sorowa
