#include "rename/rename_recovery.h"

#include "platform/errors.h"
#include "platform/folder_handle.h"
#include "platform/ui/message_box.h"
#include "rename/renumber_command.h"
#include "rename/two_phase_rename.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorowa {
namespace {

RecoveryQuestion& Hook() {
    static RecoveryQuestion hook;
    return hook;
}

// The question names every file it would move, so that the user sees what either answer does
// before giving it; leaving everything as it is is the default, for Return and Escape alike.
TRecoveryChoice Ask(const QString& text, const QString& moves, QWidget* parent) {
    if (Hook()) return Hook()(text + u'\n' + moves);
    QDialog box(parent);
    box.setObjectName(QStringLiteral("RecoveryQuestion"));
    box.setWindowTitle(platform::ApplicationTitle());
    box.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(text, &box);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QPlainTextEdit(moves, &box);
    list->setObjectName(QStringLiteral("Moves"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setFocusPolicy(Qt::NoFocus);
    list->setMinimumSize(420, 160);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&box);
    QPushButton* finish =
        buttons->addButton(QStringLiteral("完了する(&F)"), QDialogButtonBox::AcceptRole);
    QPushButton* rollBack =
        buttons->addButton(QStringLiteral("元に戻す(&R)"), QDialogButtonBox::AcceptRole);
    QPushButton* leave =
        buttons->addButton(QStringLiteral("そのままにする(&L)"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    TRecoveryChoice choice = TRecoveryChoice::kLeave;
    QObject::connect(finish, &QPushButton::clicked, &box, [&] {
        choice = TRecoveryChoice::kFinish;
        box.accept();
    });
    QObject::connect(rollBack, &QPushButton::clicked, &box, [&] {
        choice = TRecoveryChoice::kRollBack;
        box.accept();
    });
    QObject::connect(leave, &QPushButton::clicked, &box, &QDialog::reject);
    finish->setAutoDefault(false);
    rollBack->setAutoDefault(false);
    leave->setDefault(true);
    leave->setFocus();
    box.exec();
    return choice;
}

QString MoveList(const TPendingRename& pending) {
    QStringList lines;
    for (const TJournalEntry& entry : pending.entries)
        lines << OldNameOf(pending, entry) + QStringLiteral(" → ") + NewNameOf(pending, entry);
    return lines.join(u'\n');
}

} // namespace

void SetRecoveryQuestionHook(RecoveryQuestion hook) {
    Hook() = std::move(hook);
}

void RecoverInterruptedRename(const QString& folderPath, QWidget* parent,
                              const std::function<void(const QString&)>& report) {
    try {
        const platform::FolderHandle folder(folderPath);
        if (!folder.IsOpen()) return; // the listing that follows says what is wrong
        const TJournalRead read = ReadRenameJournal(folder);
        if (read.status == TJournalRead::Status::kNone) return;
        if (read.status == TJournalRead::Status::kRefused) {
            report(RefusedJournalMessage(folder, read.reason));
            return;
        }
        const TPendingRename& pending = read.pending;
        if (pending.AllAtOldNames() || pending.AllAtNewNames()) {
            RemoveRenameJournal(folder);
            return;
        }
        const QString text =
            QStringLiteral(
                "このフォルダでは前回の名前変更が途中で終わっています（%1 個のファイル）。\n"
                "完了すると各ファイルは右の名前に、元に戻すと左の名前になります。"
                "そのままにすると、ファイルも記録も変えずにフォルダを開きます。")
                .arg(pending.entries.size());
        const TRecoveryChoice choice = Ask(text, MoveList(pending), parent);
        if (choice == TRecoveryChoice::kLeave) return;
        const bool finish = choice == TRecoveryChoice::kFinish;
        const std::vector<TMoveOutcome> outcomes = ResumeRename(folder, pending, finish);
        QStringList wanted;
        for (const TJournalEntry& entry : pending.entries)
            wanted << (finish ? NewNameOf(pending, entry) : OldNameOf(pending, entry));
        if (const QString failures = FailureMessage(outcomes, wanted); !failures.isEmpty())
            report(failures);
    } catch (const Exception& error) {
        report(error.Message());
    }
}

} // namespace sorowa
