#pragma once
// A rename cut short (program killed, machine down) is found by its journal when its folder is
// opened next: the user is shown every move and chooses to finish it, to roll it back or to
// leave files and journal as they are, before the folder is listed. Finishing or rolling back
// puts every file under a name of the sequence. A journal that cannot be trusted (not this
// user's regular file, too large, not strictly as this program writes it, naming files the
// folder does not hold) is refused with a message and left alone.

#include <QString>
#include <functional>

namespace sorowa {

enum class TRecoveryChoice { kFinish, kRollBack, kLeave };

// Who answers for the user: the program's dialogs, or a test.
struct TRecoveryUi {
    // Asked with the question and the moves, one "old → new" a line; without it, kLeave.
    std::function<TRecoveryChoice(const QString& question, const QString& moves)> ask;
    // Told every failure (files that could not be moved, a folder that cannot be written).
    std::function<void(const QString& text)> report;
};

// Looks for the journal of an unfinished rename in folder and resumes it as ui's answer says.
// A journal whose rename had not moved anything yet, or had moved everything, is removed
// without a question. The folder can be opened all the same, whatever failed.
void RecoverInterruptedRename(const QString& folder, const TRecoveryUi& ui);

} // namespace sorowa
