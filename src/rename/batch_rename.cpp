#include "rename/batch_rename.h"

#include "platform/errors.h"
#include "platform/folder_handle.h"
#include "platform/rename.h"
#include "rename/companions.h"

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

TBatchRenameResult RunBatchRename(const TBatchRenameParams& params,
                                  const std::vector<TNumberedName>& files,
                                  const TBatchRenameUi& ui) {
    const std::vector<int> sequence = SequenceOrder(files);
    const int count = static_cast<int>(files.size());
    TBatchRenameResult result;
    QStringList pictures;
    for (const TNumberedName& file : files)
        result.names << file.name;
    for (const int i : sequence)
        pictures << files[i].name;
    // Opened once: every rename reaches this folder, whatever its path names meanwhile.
    const platform::FolderHandle folder(params.folder);
    const auto rename = [&](const QString& from, const QString& to) {
        return folder.IsOpen() ? platform::RenameEntryNoReplace(folder.Fd(), from, to)
                               : platform::RenameResult{false, folder.Error(), false, {}};
    };
    const auto report = [&](const QString& text) {
        if (ui.failed) ui.failed(text);
    };
    const std::vector<std::vector<TCompanion>> companions =
        params.companions ? FindCompanions(pictures, OtherFiles(folder, pictures))
                          : std::vector<std::vector<TCompanion>>(pictures.size());
    for (int i = 0; i < count; ++i) {
        const QString numberText = PaddedNumber(params.startNumber + i, params.digitCount);
        const QString& oldName = pictures[i];
        const QString newName = NewFileName(params.baseName, numberText, oldName);
        const platform::RenameResult renamed = rename(oldName, newName);
        if (renamed.ok) {
            const int file = sequence[i];
            result.names[file] = newName;
            if (ui.renamed) ui.renamed(file, newName);
            QString stayed;
            for (const TCompanion& companion : companions[i]) {
                const QString to = CompanionNewName(oldName, companion, newName);
                const platform::RenameResult moved = rename(companion.name, to);
                if (moved.ok && companion.name != to)
                    result.companions.push_back({file, companion.name, to});
                if (!moved.ok)
                    stayed += QStringLiteral("\n%1 → %2（%3）")
                                  .arg(companion.name, to, SystemErrorText(moved.error));
            }
            if (!stayed.isEmpty())
                report(QStringLiteral("ファイル名変更失敗！\n%1 と組になる次のファイルは"
                                      "名前を変えられませんでした。")
                           .arg(newName) +
                       stayed);
            continue;
        }
        QString text = QStringLiteral("ファイル名変更失敗！");
        // A rename that fails must never lose the file; if the old name has gone all the
        // same, say so, since the user's file is then where no caption points.
        if (renamed.sourceMissing)
            text += QStringLiteral("\n%1 が見つかりません").arg(params.folder + u'/' + oldName);
        report(text);
    }
    return result;
}

} // namespace sorowa
