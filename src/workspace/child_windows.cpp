#include "workspace/child_windows.h"

#include "workspace/thumbnail_window.h"

#include <QMdiArea>

namespace sorowa {

QList<TForm_Grp*> ChildWindows(const QMdiArea* frame) {
    QList<TForm_Grp*> windows;
    for (QObject* child : frame->viewport()->children())
        if (auto* window = qobject_cast<TForm_Grp*>(child)) windows.append(window);
    return windows;
}

TForm_Grp* FindByNumber(const QMdiArea* frame, int number) {
    for (TForm_Grp* window : ChildWindows(frame))
        if (window->Number() == number) return window;
    return nullptr;
}

TNumberIndex::TNumberIndex(const QList<TForm_Grp*>& windows) {
    byNumber_.reserve(windows.size());
    for (TForm_Grp* window : windows)
        if (const auto number = window->Number(); number && !byNumber_.contains(*number))
            byNumber_.insert(*number, window);
}

} // namespace sorowa
