#pragma once
// How the workspace benchmarks answer the program's dialogs: at once, as a user would who
// knows what to choose, so that the program runs exactly as it does for a user.

#include "support/modal_dialogs.h"
#include "workspace/folder_chooser.h"

#include <QMessageBox>

namespace sorowa::bench {

// Confirms folder in each folder chooser that opens; cancels one that cannot enter it.
inline auto ConfirmFolder(const QString& folder) {
    return [folder](TFolderChooser* chooser) {
        // It opens at the folder last opened: listing that again would only add to the time.
        if (chooser->Folder() != folder && !chooser->EnterFolder(folder)) return chooser->reject();
        test::ClickButton(chooser, QStringLiteral("OK"));
    };
}

// Closes a message box with its OK button.
inline void CloseMessage(QMessageBox* box) {
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        QTest::mouseClick(ok, Qt::LeftButton);
    else
        box->reject();
}

} // namespace sorowa::bench
