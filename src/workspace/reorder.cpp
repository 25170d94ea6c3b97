#include "workspace/reorder.h"

#include "workspace/child_windows.h"
#include "workspace/mdi_frame.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_window.h"

namespace sorowa {

int TemporaryMarker(int windowCount) {
    return windowCount < 999 ? 999 : 0;
}

void ExchangeWithNeighbour(TMdiFrame* frame, bool up) {
    TForm_Grp* selected = frame->ActiveChild();
    if (selected == nullptr || !selected->Number()) return;
    const int count = static_cast<int>(ChildWindows(frame).size());
    const int k = *selected->Number();
    const QPoint selectedPosition = selected->pos();
    if (up ? k == 1 : k == count) return;
    const int t = up ? k - 1 : k + 1;
    const int marker = TemporaryMarker(count);

    TForm_Grp* target = FindByNumber(frame, t);
    if (target == nullptr) return;
    const QPoint targetPosition = target->pos();

    TForm_Grp* a = FindByNumber(frame, k);
    a->move(targetPosition);
    a->setWindowTitle(BuildSequenceCaption(QString::number(marker), a->FileName()));

    TForm_Grp* b = FindByNumber(frame, t);
    b->move(selectedPosition);
    b->setWindowTitle(BuildSequenceCaption(QString::number(k), b->FileName()));

    TForm_Grp* marked = FindByNumber(frame, marker);
    marked->setWindowTitle(BuildSequenceCaption(QString::number(t), marked->FileName()));
}

} // namespace sorowa
