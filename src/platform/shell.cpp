#include "platform/shell.h"

#include "platform/directories.h"

#include <QDesktopServices>
#include <QUrl>

namespace sorowa::platform {
namespace {
ShellOpenHook& Hook() {
    static ShellOpenHook hook;
    return hook;
}
} // namespace

void ShellOpen(const QString& name) {
    const QString path = name.startsWith(u'/') ? name : CurrentDirectory() + u'/' + name;
    if (Hook()) {
        Hook()(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SetShellOpenHook(ShellOpenHook hook) {
    Hook() = std::move(hook);
}

} // namespace sorowa::platform
