#include "rename/batch_rename.h"

#include "platform/errors.h"
#include "platform/folder_handle.h"
#include "platform/rename.h"
#include "rename/companions.h"
#include "workspace/child_windows.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_window.h"

namespace sorowa {

QString PaddedNumber(int number, int digitCount) {
    const QString text = QString::number(number);
    if (text.size() >= digitCount) return text;
    return QString(digitCount - text.size(), u'0') + text;
}

QString NewFileName(const QString& baseName, const QString& numberText, const QString& oldName) {
    const qsizetype dot = oldName.lastIndexOf(u'.');
    const QString stem = baseName + numberText;
    // Every listed name has a "."; a name without one keeps no extension rather than
    // taking its whole name as one.
    return dot < 0 ? stem : stem + u'.' + oldName.mid(dot + 1);
}

std::vector<TRenamedFile> RunBatchRename(const TBatchRenameParams& params,
                                         const QList<TForm_Grp*>& windows,
                                         const RenameFailureReport& reportFailure) {
    const TNumberIndex index(windows);
    const int count = static_cast<int>(windows.size());
    std::vector<TForm_Grp*> sequence;
    QStringList pictures;
    for (int i = 1; i <= count; ++i) {
        TForm_Grp* window = index.Find(i);
        if (window == nullptr)
            throw Exception(QStringLiteral("番号 %1 のサムネイルが見つかりません").arg(i));
        sequence.push_back(window);
        pictures << ReadSequenceCaption(window->windowTitle())->fileName;
    }
    // Opened once: every rename reaches this folder, whatever its path names meanwhile.
    const platform::FolderHandle folder(params.folder);
    const auto rename = [&](const QString& from, const QString& to) {
        return folder.IsOpen() ? platform::RenameEntryNoReplace(folder.Fd(), from, to)
                               : platform::RenameResult{false, folder.Error(), false, {}};
    };
    const std::vector<std::vector<TCompanion>> companions =
        params.companions ? FindCompanions(pictures, OtherFiles(folder, pictures))
                          : std::vector<std::vector<TCompanion>>(pictures.size());
    std::vector<TRenamedFile> renamed;
    for (int i = 0; i < count; ++i) {
        const QString numberText = PaddedNumber(params.startNumber + i, params.digitCount);
        const QString& oldName = pictures[i];
        const QString newName = NewFileName(params.baseName, numberText, oldName);
        const platform::RenameResult result = rename(oldName, newName);
        if (result.ok) {
            const auto caption = ReadSequenceCaption(sequence[i]->windowTitle());
            sequence[i]->setWindowTitle(BuildSequenceCaption(caption->numberText, newName));
            QString stayed;
            for (const TCompanion& companion : companions[i]) {
                const QString to = CompanionNewName(oldName, companion, newName);
                const platform::RenameResult moved = rename(companion.name, to);
                if (moved.ok && companion.name != to)
                    renamed.push_back({sequence[i], companion.name, to});
                if (!moved.ok)
                    stayed += QStringLiteral("\n%1 → %2（%3）")
                                  .arg(companion.name, to, SystemErrorText(moved.error));
            }
            if (!stayed.isEmpty())
                reportFailure(QStringLiteral("ファイル名変更失敗！\n%1 と組になる次のファイルは"
                                             "名前を変えられませんでした。")
                                  .arg(newName) +
                              stayed);
            continue;
        }
        QString text = QStringLiteral("ファイル名変更失敗！");
        // A rename that fails must never lose the file; if the old name has gone all the
        // same, say so, since the user's file is then where no caption points.
        if (result.sourceMissing)
            text += QStringLiteral("\n%1 が見つかりません").arg(params.folder + u'/' + oldName);
        reportFailure(text);
    }
    return renamed;
}

} // namespace sorowa
