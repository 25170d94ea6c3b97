#include "rename/rename_recovery.h"

#include "platform/errors.h"
#include "platform/folder_handle.h"
#include "rename/renumber_command.h"
#include "rename/two_phase_rename.h"

namespace sorowa {
namespace {

QString MoveList(const TPendingRename& pending) {
    QStringList lines;
    for (const TJournalEntry& entry : pending.entries)
        lines << OldNameOf(pending, entry) + QStringLiteral(" → ") + NewNameOf(pending, entry);
    return lines.join(u'\n');
}

} // namespace

void RecoverInterruptedRename(const QString& folderPath, const TRecoveryUi& ui) {
    const auto report = [&](const QString& text) {
        if (ui.report) ui.report(text);
    };
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
        const TRecoveryChoice choice =
            ui.ask ? ui.ask(text, MoveList(pending)) : TRecoveryChoice::kLeave;
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
