#pragma once
// The question put when a folder holds the journal of a rename cut short (rename_recovery.h):
// what the rename would do, every move in a list, and three answers.

#include "rename/rename_recovery.h"

class QWidget;

namespace sorowa {

// The question as a dialog over parent, modal for the whole program; leaving everything as it
// is is the default, for Return and Escape alike.
TRecoveryChoice AskRecoveryQuestion(const QString& question, const QString& moves, QWidget* parent);

// The program's answerer: the dialog above, and failures in message boxes over parent.
TRecoveryUi RecoveryDialogs(QWidget* parent);

} // namespace sorowa
