#pragma once
// A rename cut short (program killed, machine down) is found by its journal when its folder is
// opened next: the user is shown every move and chooses to finish it, to roll it back or to
// leave files and journal as they are, before the folder is listed. Finishing or rolling back
// puts every file under a name of the sequence. A journal that cannot be trusted (not this
// user's regular file, too large, not strictly as this program writes it, naming files the
// folder does not hold) is refused with a message and left alone.

#include <QString>
#include <functional>

class QWidget;

namespace sorowa {

enum class TRecoveryChoice { kFinish, kRollBack, kLeave };
// text: the question followed by the list of moves.
using RecoveryQuestion = std::function<TRecoveryChoice(const QString& text)>;
// Tests answer the question instead of the user; an empty hook restores the box.
void SetRecoveryQuestionHook(RecoveryQuestion hook);

// Looks for the journal of an unfinished rename in folder and resumes it as the user chooses.
// A journal whose rename had not moved anything yet, or had moved everything, is removed
// without a question. Failures (files that could not be moved, a folder that cannot be
// written) go to report; the folder can be opened all the same.
void RecoverInterruptedRename(const QString& folder, QWidget* parent,
                              const std::function<void(const QString&)>& report);

} // namespace sorowa
