#include "workspace/child_windows.h"

#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_window.h"

namespace sorowa {

QList<TForm_Grp*> ChildWindows(const TMdiFrame* frame) {
    return frame->Children();
}

TForm_Grp* FindByNumber(const TMdiFrame* frame, int number) {
    for (TForm_Grp* window : ChildWindows(frame))
        if (window->Number() == number) return window;
    return nullptr;
}

TNumberIndex::TNumberIndex(const QList<TForm_Grp*>& windows)
    : byNumber_(static_cast<std::size_t>(windows.size()) + 1, nullptr) {
    for (TForm_Grp* window : windows) {
        const auto number = window->Number();
        if (!number || *number < 1 || *number > windows.size()) continue;
        TForm_Grp*& slot = byNumber_[static_cast<std::size_t>(*number)];
        if (slot == nullptr) slot = window; // the first window with the number
    }
}

} // namespace sorowa
