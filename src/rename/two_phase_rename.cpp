#include "rename/two_phase_rename.h"

#include "platform/errors.h"
#include "platform/rename.h"

#include <QRandomGenerator>
#include <cerrno>

namespace sorowa {
namespace {

// Hidden, and matched by no picture pattern, so a folder listing never shows it; the random
// part makes it a name that no other file of the folder has.
QString TemporaryName(quint64 token, int index) {
    return QStringLiteral(".sorowa-%1-%2").arg(token, 16, 16, QChar(u'0')).arg(index);
}

class TRun {
public:
    TRun(const QString& folder, const TTwoPhaseOptions& options)
        : folder_(folder), options_(options) {}

    std::vector<TMoveOutcome> Run(const std::vector<TMove>& moves);

private:
    platform::RenameResult Move(const QString& from, const QString& to) const {
        return platform::RenameFileNoReplace(folder_ + u'/' + from, folder_ + u'/' + to);
    }
    void Step(TRenameStep step, int index = -1) const {
        if (options_.afterStep) options_.afterStep(step, index);
    }
    void MoveToTemporary(TRenameJournal& journal);
    void MoveToTarget(TRenameJournal& journal);
    void SendBack(TRenameJournal& journal);

    QString folder_;
    const TTwoPhaseOptions& options_;
    std::vector<TJournalEntry> plan_;
    std::vector<int> planToMove_; // which move each plan entry is
    std::vector<TMoveOutcome> outcomes_;
};

std::vector<TMoveOutcome> TRun::Run(const std::vector<TMove>& moves) {
    outcomes_.resize(moves.size());
    const quint64 token = QRandomGenerator::system()->generate64();
    for (int i = 0; i < static_cast<int>(moves.size()); ++i) {
        outcomes_[i] = {TPlace::kTarget, moves[i].to, 0, false};
        // A file that already has its name is left alone, except when resuming: there it
        // stays in the journal, so that a later roll back of the resumed rename moves it too.
        if (moves[i].from == moves[i].to &&
            (moves[i].back.isEmpty() || moves[i].back == moves[i].from))
            continue;
        outcomes_[i] = {TPlace::kSource, moves[i].from, 0, false};
        plan_.push_back({moves[i].from, TemporaryName(token, static_cast<int>(plan_.size())),
                         moves[i].to, moves[i].back.isEmpty() ? moves[i].from : moves[i].back});
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
    for (int p = 0; p < count; ++p) {
        TMoveOutcome& outcome = outcomes_[planToMove_[p]];
        if (outcome.place != TPlace::kTemporary) continue;
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

} // namespace

std::vector<TMoveOutcome> RunTwoPhaseRename(const QString& folder, const std::vector<TMove>& moves,
                                            const TTwoPhaseOptions& options) {
    return TRun(folder, options).Run(moves);
}

std::vector<TMoveOutcome> ResumeRename(const QString& folder, const TPendingRename& pending,
                                       bool finish, const TTwoPhaseOptions& options) {
    std::vector<TMove> moves;
    for (std::size_t i = 0; i < pending.entries.size(); ++i) {
        const TJournalEntry& entry = pending.entries[i];
        const QString& now = NameAt(entry, pending.places[i]);
        const QString& newName = NewNameOf(pending, entry);
        const QString& oldName = OldNameOf(pending, entry);
        moves.push_back(finish ? TMove{now, newName, oldName} : TMove{now, oldName, newName});
    }
    TTwoPhaseOptions resume = options;
    resume.takeOverJournal = true;
    resume.rollingBack = !finish;
    return TRun(folder, resume).Run(moves);
}

} // namespace sorowa
