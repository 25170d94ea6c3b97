#pragma once
// How the workspace benchmarks answer the folder chooser: at once, as a user would who
// knows what to choose, so that the program runs exactly as it does for a user.

#include "support/modal_dialogs.h"
#include "workspace/folder_chooser.h"

namespace sorowa::bench {

// Confirms folder in each folder chooser that opens; cancels one that cannot enter it.
inline auto ConfirmFolder(const QString& folder) {
    return [folder](TFolderChooser* chooser) {
        // It opens at the folder last opened: listing that again would only add to the time.
        if (chooser->Folder() != folder && !chooser->EnterFolder(folder)) return chooser->reject();
        test::ClickButton(chooser, QStringLiteral("OK"));
    };
}

} // namespace sorowa::bench
