#include "rename/renumber_command.h"

#include "platform/errors.h"
#include "platform/file_names.h"
#include "platform/spin_edit.h"
#include "rename/rename_dialog.h"
#include "rename/two_phase_rename.h"
#include "workspace/child_windows.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_window.h"

#include <QLineEdit>
#include <sys/stat.h>
#include <utility>

namespace sorowa {
namespace {

std::optional<platform::FileIdentity> Identify(const QString& folder, const QString& name) {
    struct stat info {};
    if (::lstat(platform::EncodeFileName(folder + u'/' + name).c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return platform::FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                                  static_cast<std::uint64_t>(info.st_ino), info.st_size,
                                  info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

void SetCaptionName(TForm_Grp* window, const QString& fileName) {
    const auto caption = ReadSequenceCaption(window->windowTitle());
    window->setWindowTitle(
        BuildSequenceCaption(caption ? caption->numberText : QString(), fileName));
}

QString CaptionName(const TForm_Grp* window) {
    const auto caption = ReadSequenceCaption(window->windowTitle());
    return caption ? caption->fileName : QString();
}

} // namespace

TBatchRenameParams ParamsFromDialog(const TForm_Henkou& dialog, const QString& folder) {
    TBatchRenameParams params;
    params.baseName = dialog.Ed_FName->text();
    params.digitCount = dialog.SpEd_FNK->Value();
    params.startNumber = dialog.SpEd_FNSN->Value();
    params.folder = folder;
    return params;
}

std::vector<TCaptionName> CaptureFileNames(const QList<TForm_Grp*>& windows) {
    std::vector<TCaptionName> names;
    for (TForm_Grp* window : windows)
        names.push_back({window, CaptionName(window)});
    return names;
}

void TRenameHistory::RecordChanges(const QString& folder, const std::vector<TCaptionName>& before) {
    Clear();
    folder_ = folder;
    for (const TCaptionName& name : before) {
        if (name.window.isNull()) continue;
        const QString now = CaptionName(name.window);
        if (now != name.fileName) Record(folder, name.window, name.fileName, now);
    }
}

void TRenameHistory::Record(const QString& folder, TForm_Grp* window, const QString& previous,
                            const QString& given) {
    folder_ = folder;
    entries_.push_back({window, previous, given, Identify(folder, given)});
}

std::vector<TRenameHistory::Entry> TRenameHistory::Take() {
    return std::exchange(entries_, {});
}

QString FailureMessage(const std::vector<TMoveOutcome>& outcomes, const QStringList& wanted) {
    QString taken;
    QString failed;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const TMoveOutcome& outcome = outcomes[i];
        if (outcome.place == TPlace::kTarget) continue;
        if (outcome.targetTaken) {
            taken += QStringLiteral("\n%1 は使用中：%2 のまま").arg(wanted[i], outcome.nameNow);
        } else {
            failed += QStringLiteral("\n%1（%2）：%3 のまま")
                          .arg(wanted[i], SystemErrorText(outcome.error), outcome.nameNow);
        }
    }
    QString text;
    if (!taken.isEmpty())
        text += QStringLiteral("新しい名前を別のファイルが使っているため、変更できませんでした。") +
                taken;
    if (!failed.isEmpty()) {
        if (!text.isEmpty()) text += u'\n';
        text += QStringLiteral("次のファイルは名前を変更できませんでした。") + failed;
    }
    return text;
}

void RunRenumber(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows,
                 TRenameHistory& history, const RenumberReport& report) {
    const TNumberIndex index(windows);
    const int count = static_cast<int>(windows.size());
    std::vector<TForm_Grp*> sequence;
    std::vector<TMove> moves;
    QStringList wanted;
    for (int i = 1; i <= count; ++i) {
        TForm_Grp* window = index.Find(i);
        if (window == nullptr)
            throw Exception(QStringLiteral("番号 %1 のサムネイルが見つかりません").arg(i));
        const QString oldName = CaptionName(window);
        const QString numberText = PaddedNumber(params.startNumber + i - 1, params.digitCount);
        sequence.push_back(window);
        moves.push_back({oldName, NewFileName(params.baseName, numberText, oldName)});
        wanted << moves.back().to;
    }
    const std::vector<TMoveOutcome> outcomes = RunTwoPhaseRename(params.folder, moves);
    history.Clear();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        SetCaptionName(sequence[i], outcomes[i].nameNow);
        if (outcomes[i].place == TPlace::kTarget && moves[i].from != moves[i].to)
            history.Record(params.folder, sequence[i], moves[i].from, moves[i].to);
    }
    if (const QString text = FailureMessage(outcomes, wanted); !text.isEmpty()) report(text);
}

void RunUndo(const QString& folder, TRenameHistory& history, const RenumberReport& report) {
    std::vector<TRenameHistory::Entry> entries = history.Take();
    std::vector<TForm_Grp*> windows;
    std::vector<TMove> moves;
    QStringList wanted;
    QString changed;
    for (const TRenameHistory::Entry& entry : entries) {
        // Only the file that the rename named so, unchanged, and still shown under that name.
        const bool same = !entry.window.isNull() && CaptionName(entry.window) == entry.given &&
                          entry.identity && Identify(folder, entry.given) == entry.identity;
        if (!same) {
            changed += u'\n' + entry.given;
            continue;
        }
        windows.push_back(entry.window);
        moves.push_back({entry.given, entry.previous});
        wanted << entry.previous;
    }
    const std::vector<TMoveOutcome> outcomes = RunTwoPhaseRename(folder, moves);
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        SetCaptionName(windows[i], outcomes[i].nameNow);
    QString text = FailureMessage(outcomes, wanted);
    if (!changed.isEmpty()) {
        if (!text.isEmpty()) text += u'\n';
        text +=
            QStringLiteral("名前変更の後で変わったか無くなったため、元に戻さなかったファイル：") +
            changed;
    }
    if (!text.isEmpty()) report(text);
}

} // namespace sorowa
