#include "rename/two_phase_rename.h"

#include "platform/errors.h"
#include "platform/folder_handle.h"
#include "platform/rename.h"

#include <QRandomGenerator>
#include <cerrno>
#include <set>

namespace sorowa {
namespace {

class TRun {
public:
    TRun(const platform::FolderHandle& folder, const TTwoPhaseOptions& options)
        : folder_(folder), options_(options) {}

    std::vector<TMoveOutcome> Run(const std::vector<TMove>& moves);

private:
    platform::RenameResult Move(const QString& from, const QString& to) const {
        return platform::RenameEntryNoReplace(folder_.Fd(), from, to);
    }
    void Step(TRenameStep step, int index = -1) const {
        if (options_.afterStep) options_.afterStep(step, index);
    }
    void MoveToTemporary(TRenameJournal& journal);
    void MoveToTarget(TRenameJournal& journal);
    void HoldBackGroups();
    void SendBack(TRenameJournal& journal);
    int GroupOf(int p) const { return groups_[planToMove_[p]]; }
    bool GroupFailed(int p, const std::set<int>& failed) const {
        return GroupOf(p) >= 0 && failed.contains(GroupOf(p));
    }

    const platform::FolderHandle& folder_;
    const TTwoPhaseOptions& options_;
    std::vector<TJournalEntry> plan_;
    std::vector<int> planToMove_; // which move each plan entry is
    std::vector<int> groups_;     // the group of each move, -1 for none
    std::vector<TMoveOutcome> outcomes_;
};

std::vector<TMoveOutcome> TRun::Run(const std::vector<TMove>& moves) {
    outcomes_.resize(moves.size());
    for (const TMove& move : moves)
        groups_.push_back(move.group);
    const quint64 token = QRandomGenerator::system()->generate64();
    for (int i = 0; i < static_cast<int>(moves.size()); ++i) {
        outcomes_[i] = {TPlace::kTarget, moves[i].to, 0, false};
        // A file that already has its name is left alone, except when resuming: there it
        // stays in the journal, so that a later roll back of the resumed rename moves it too.
        if (moves[i].from == moves[i].to &&
            (moves[i].back.isEmpty() || moves[i].back == moves[i].from))
            continue;
        outcomes_[i] = {TPlace::kSource, moves[i].from, 0, false};
        plan_.push_back({moves[i].from, TemporaryRenameName(token, static_cast<int>(plan_.size())),
                         moves[i].to, moves[i].back.isEmpty() ? moves[i].from : moves[i].back,
                         moves[i].group});
        planToMove_.push_back(i);
    }
    if (plan_.empty()) {
        if (options_.takeOverJournal) RemoveRenameJournal(folder_);
        return outcomes_;
    }
    TRenameJournal journal(folder_, plan_, options_.takeOverJournal, options_.rollingBack);
    Step(TRenameStep::kJournalWritten);
    try {
        MoveToTemporary(journal);
        MoveToTarget(journal);
        HoldBackGroups();
        SendBack(journal);
        journal.Remove();
    } catch (const Exception& error) {
        // The journal on disk still tells where every file is.
        throw Exception(error.Message() +
                        QStringLiteral("\nこのフォルダを開き直すと、途中まで変更した名前の変更を"
                                       "完了するか元に戻すことができます。"));
    }
    Step(TRenameStep::kJournalRemoved);
    return std::move(outcomes_);
}

void TRun::MoveToTemporary(TRenameJournal& journal) {
    for (int p = 0; p < static_cast<int>(plan_.size()); ++p) {
        TMoveOutcome& outcome = outcomes_[planToMove_[p]];
        const platform::RenameResult result = Move(plan_[p].from, plan_[p].temporary);
        if (result.ok) {
            outcome.place = TPlace::kTemporary;
            outcome.nameNow = plan_[p].temporary;
        } else {
            outcome.error = result.error;
            journal.FirstMoveFailed(p);
        }
        Step(TRenameStep::kMovedToTemporary, planToMove_[p]);
    }
}

void TRun::MoveToTarget(TRenameJournal& journal) {
    // One intent for all final moves: where a file is follows from whether its temporary name
    // still exists, so one sync covers any number of files.
    const int count = static_cast<int>(plan_.size());
    journal.FinalMoves(0, count - 1);
    journal.Sync();
    Step(TRenameStep::kJournalSynced);
    // A group one of whose files could not even leave its name stays together where it was.
    std::set<int> stuck;
    for (int p = 0; p < count; ++p)
        if (outcomes_[planToMove_[p]].place == TPlace::kSource && GroupOf(p) >= 0)
            stuck.insert(GroupOf(p));
    for (int p = 0; p < count; ++p) {
        TMoveOutcome& outcome = outcomes_[planToMove_[p]];
        if (outcome.place != TPlace::kTemporary) continue;
        if (GroupFailed(p, stuck)) {
            outcome.heldBack = true;
            continue;
        }
        const platform::RenameResult result = Move(plan_[p].temporary, plan_[p].to);
        if (result.ok) {
            outcome.place = TPlace::kTarget;
            outcome.nameNow = plan_[p].to;
        } else {
            outcome.error = result.error;
            outcome.targetTaken = result.error == EEXIST;
        }
        Step(TRenameStep::kMovedToTarget, planToMove_[p]);
    }
}

// The files of a group go to their new names together or not at all: where one could not,
// those that did go back to their temporary names, from which all of them are sent back.
void TRun::HoldBackGroups() {
    std::set<int> failed;
    for (int p = 0; p < static_cast<int>(plan_.size()); ++p)
        if (outcomes_[planToMove_[p]].place != TPlace::kTarget && GroupOf(p) >= 0)
            failed.insert(GroupOf(p));
    if (failed.empty()) return;
    for (int p = 0; p < static_cast<int>(plan_.size()); ++p) {
        TMoveOutcome& outcome = outcomes_[planToMove_[p]];
        if (outcome.place != TPlace::kTarget || !GroupFailed(p, failed)) continue;
        if (Move(plan_[p].to, plan_[p].temporary).ok) {
            outcome.place = TPlace::kTemporary;
            outcome.nameNow = plan_[p].temporary;
            outcome.heldBack = true;
        }
        Step(TRenameStep::kHeldBack, planToMove_[p]);
    }
}

void TRun::SendBack(TRenameJournal& journal) {
    std::vector<int> back;
    for (int p = 0; p < static_cast<int>(plan_.size()); ++p) {
        if (outcomes_[planToMove_[p]].place == TPlace::kTemporary) {
            back.push_back(p);
            journal.SendBack(p);
        }
    }
    if (back.empty()) return;
    journal.Sync();
    Step(TRenameStep::kJournalSynced);
    for (const int p : back) {
        TMoveOutcome& outcome = outcomes_[planToMove_[p]];
        // The old name may have gone to another file of the set by now: then the file keeps
        // its temporary name, which the message names.
        if (Move(plan_[p].temporary, plan_[p].back).ok) {
            outcome.place = TPlace::kBack;
            outcome.nameNow = plan_[p].back;
        }
        Step(TRenameStep::kSentBack, planToMove_[p]);
    }
}

void CheckOpen(const platform::FolderHandle& folder) {
    if (!folder.IsOpen())
        throw EOSError(QStringLiteral("フォルダを開けないため、名前を変更できません：%1")
                           .arg(SystemErrorText(folder.Error())),
                       folder.Error());
}

} // namespace

std::vector<TMoveOutcome> RunTwoPhaseRename(const platform::FolderHandle& folder,
                                            const std::vector<TMove>& moves,
                                            const TTwoPhaseOptions& options) {
    CheckOpen(folder);
    for (const TMove& move : moves) {
        // The names come from the folder's listing; anything else is a caller's fault that
        // must not reach outside the folder.
        if (!platform::IsPlainEntryName(move.from) || !platform::IsPlainEntryName(move.to) ||
            (!move.back.isEmpty() && !platform::IsPlainEntryName(move.back)))
            throw Exception(QStringLiteral("ファイル名が正しくありません：%1").arg(move.from));
    }
    return TRun(folder, options).Run(moves);
}

std::vector<TMoveOutcome> RunTwoPhaseRename(const QString& folder, const std::vector<TMove>& moves,
                                            const TTwoPhaseOptions& options) {
    return RunTwoPhaseRename(platform::FolderHandle(folder), moves, options);
}

std::vector<TMoveOutcome> ResumeRename(const platform::FolderHandle& folder,
                                       const TPendingRename& pending, bool finish,
                                       const TTwoPhaseOptions& options) {
    std::vector<TMove> moves;
    for (std::size_t i = 0; i < pending.entries.size(); ++i) {
        const TJournalEntry& entry = pending.entries[i];
        const QString& now = NameAt(entry, pending.places[i]);
        const QString& newName = NewNameOf(pending, entry);
        const QString& oldName = OldNameOf(pending, entry);
        moves.push_back(finish ? TMove{now, newName, oldName, entry.group}
                               : TMove{now, oldName, newName, entry.group});
    }
    TTwoPhaseOptions resume = options;
    resume.takeOverJournal = true;
    resume.rollingBack = !finish;
    return RunTwoPhaseRename(folder, moves, resume);
}

} // namespace sorowa
