#include "workspace/reorder.h"

#include "workspace/mdi_frame.h"
#include "workspace/sequence.h"

namespace sorowa {

int TemporaryMarker(int windowCount) {
    return windowCount < 999 ? 999 : 0;
}

void ExchangeWithNeighbour(TMdiFrame* frame, bool up) {
    TSequence& sequence = frame->Sequence();
    const int k = sequence.NumberOf(frame->ActiveChild());
    if (k == 0) return;
    if (up ? k == 1 : k == sequence.Size()) return;
    sequence.Exchange(k, up ? k - 1 : k + 1);
}

void MoveSelectionOnePlace(TMdiFrame* frame, bool up) {
    if (frame->Sequence().SelectedCount() > 1)
        frame->Sequence().StepSelection(up);
    else
        ExchangeWithNeighbour(frame, up);
}

} // namespace sorowa
