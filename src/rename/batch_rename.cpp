#include "rename/batch_rename.h"

#include "platform/errors.h"
#include "platform/rename.h"
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

void RunBatchRename(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows,
                    const RenameFailureReport& reportFailure) {
    const TNumberIndex index(windows);
    const int count = static_cast<int>(windows.size());
    for (int i = 1; i <= count; ++i) {
        const QString numberText = PaddedNumber(params.startNumber + i - 1, params.digitCount);
        TForm_Grp* window = index.Find(i);
        if (window == nullptr)
            throw Exception(QStringLiteral("番号 %1 のサムネイルが見つかりません").arg(i));
        const auto caption = ReadSequenceCaption(window->windowTitle());
        const QString newName = NewFileName(params.baseName, numberText, caption->fileName);
        const QString oldPath = params.folder + u'/' + caption->fileName;
        const QString newPath = params.folder + u'/' + newName;
        const platform::RenameResult result = platform::RenameFileNoReplace(oldPath, newPath);
        if (result.ok) {
            window->setWindowTitle(BuildSequenceCaption(caption->numberText, newName));
            continue;
        }
        QString text = QStringLiteral("ファイル名変更失敗！");
        // A rename that fails must never lose the file; if the old name has gone all the
        // same, say so, since the user's file is then where no caption points.
        if (result.sourceMissing) text += QStringLiteral("\n%1 が見つかりません").arg(oldPath);
        reportFailure(text);
    }
}

} // namespace sorowa
