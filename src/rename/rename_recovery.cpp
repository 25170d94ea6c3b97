#include "rename/rename_recovery.h"

#include "platform/errors.h"
#include "platform/message_box.h"
#include "rename/renumber_command.h"
#include "rename/two_phase_rename.h"

#include <QMessageBox>
#include <QPushButton>

namespace sorowa {
namespace {

RecoveryQuestion& Hook() {
    static RecoveryQuestion hook;
    return hook;
}

TRecoveryChoice Ask(const QString& text, QWidget* parent) {
    if (Hook()) return Hook()(text);
    QMessageBox box(QMessageBox::Question, platform::ApplicationTitle(), text,
                    QMessageBox::NoButton, parent);
    QPushButton* finish = box.addButton(QStringLiteral("完了する(&F)"), QMessageBox::AcceptRole);
    QPushButton* rollBack = box.addButton(QStringLiteral("元に戻す(&R)"), QMessageBox::RejectRole);
    box.setDefaultButton(finish);
    box.setEscapeButton(rollBack);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == finish ? TRecoveryChoice::kFinish : TRecoveryChoice::kRollBack;
}

} // namespace

void SetRecoveryQuestionHook(RecoveryQuestion hook) {
    Hook() = std::move(hook);
}

void RecoverInterruptedRename(const QString& folder, QWidget* parent,
                              const std::function<void(const QString&)>& report) {
    try {
        const std::optional<TPendingRename> pending = ReadRenameJournal(folder);
        if (!pending) return;
        if (pending->AllAtOldNames() || pending->AllAtNewNames()) {
            RemoveRenameJournal(folder);
            return;
        }
        const QString text =
            QStringLiteral(
                "このフォルダでは前回の名前変更が途中で終わっています（%1 個のファイル）。\n"
                "名前変更を完了しますか、それとも元の名前に戻しますか？")
                .arg(pending->entries.size());
        const bool finish = Ask(text, parent) == TRecoveryChoice::kFinish;
        const std::vector<TMoveOutcome> outcomes = ResumeRename(folder, *pending, finish);
        QStringList wanted;
        for (const TJournalEntry& entry : pending->entries)
            wanted << (finish ? NewNameOf(*pending, entry) : OldNameOf(*pending, entry));
        if (const QString failures = FailureMessage(outcomes, wanted); !failures.isEmpty())
            report(failures);
    } catch (const Exception& error) {
        report(error.Message());
    }
}

} // namespace sorowa
