#include "rename/ui/window_rename.h"

#include "platform/ui/message_box.h"
#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_window.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace sorowa {
namespace {

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

std::vector<TNumberedName> NumberedNames(const QList<TForm_Grp*>& windows) {
    std::vector<TNumberedName> names;
    names.reserve(static_cast<std::size_t>(windows.size()));
    for (const TForm_Grp* window : windows)
        names.push_back({window->Number().value_or(0), CaptionName(window)});
    return names;
}

bool AskToGoOnWithout(const QString& text, QWidget* parent) {
    QMessageBox box(QMessageBox::Question, platform::ApplicationTitle(), text,
                    QMessageBox::NoButton, parent);
    QPushButton* goOn = box.addButton(QStringLiteral("除いて続ける(&C)"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == goOn;
}

void TWindowRenamer::Remember(const QList<TForm_Grp*>& windows) {
    owners_.assign(windows.begin(), windows.end());
}

void TWindowRenamer::BatchRename(const TBatchRenameParams& params,
                                 const QList<TForm_Grp*>& windows) {
    const std::vector<TNumberedName> files = NumberedNames(windows);
    // Each caption changes as its file is renamed, so that a failure's message shows the
    // windows as the folder is.
    const TBatchRenameUi ui{
        [&](int file, const QString& newName) { SetCaptionName(windows[file], newName); },
        [this](const QString& text) { platform::ShowMessage(text, parent_); }};
    const TBatchRenameResult result = RunBatchRename(params, files, ui);
    QStringList before;
    for (const TNumberedName& file : files)
        before << file.name;
    Remember(windows);
    history_.RecordChanges(params.folder, before, result.names, result.companions);
}

void TWindowRenamer::Renumber(const TBatchRenameParams& params, const QList<TForm_Grp*>& windows) {
    const TRenumberResult result =
        RunRenumber(params, NumberedNames(windows), history_,
                    [this](const QString& text) { return AskToGoOnWithout(text, parent_); });
    if (result.cancelled) return;
    Remember(windows);
    for (int i = 0; i < windows.size(); ++i)
        if (result.names[i] != CaptionName(windows[i])) SetCaptionName(windows[i], result.names[i]);
    if (!result.message.isEmpty()) platform::ShowMessage(result.message, parent_);
}

void TWindowRenamer::Undo(const QString& folder) {
    QStringList shown;
    for (const QPointer<TForm_Grp>& window : owners_)
        shown << (window.isNull() ? QString() : CaptionName(window));
    const TUndoResult result = RunUndo(folder, history_, shown);
    for (const TNameChange& change : result.names)
        if (TForm_Grp* window = owners_[static_cast<std::size_t>(change.owner)])
            SetCaptionName(window, change.name);
    if (!result.message.isEmpty()) platform::ShowMessage(result.message, parent_);
}

} // namespace sorowa
