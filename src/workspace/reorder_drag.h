#pragma once
// Dragging the selected thumbnails to another place of the sequence with the mouse.
//
// Done with the frame's own mouse events rather than a platform drag: the block never
// leaves the frame, and the insertion bar, the scrolling near the edges and Escape are
// all the frame's own. The thumbnail windows themselves never move while dragging; only
// the drop renumbers them.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>

class QWidget;

namespace sorowa {

class TForm_Grp;
class TMdiFrame;
class TSequence;

// Where a drop at a point of the frame's canvas puts the dragged windows: before the
// window that stands at place gap + 1 (0 = first, Size() = after the last), and where the
// insertion bar stands. Over a thumbnail's left half or the gap before it: before it;
// over its right half or past the end of its row: after it. Rows reach down to the next
// row; below the last row is after the last window.
struct TDropPlace {
    int gap = 0;
    QRect bar;
};
TDropPlace DropPlaceAt(const TSequence& sequence, QPoint canvasPoint);

class TReorderDrag : public QObject {
    Q_OBJECT
public:
    // The pointer's distance from the top or bottom edge within which the frame scrolls.
    static constexpr int kScrollZone = 40;

    explicit TReorderDrag(TMdiFrame* frame);

    // The left button went down on window's picture, pointer at point of the viewport.
    void Press(TForm_Grp* window, QPoint point, Qt::KeyboardModifiers modifiers);
    void Move(QPoint point);
    void Release(QPoint point);
    // Escape, or the folder closing: the drag ends and nothing moves.
    void Cancel();

    bool Dragging() const { return state_ == State::kDragging; }
    // The insertion bar, visible while dragging over the frame.
    QWidget* Bar() const { return bar_; }

private:
    // kIdle -> kPressed on Press; kPressed -> kDragging once the pointer has moved the
    // platform's drag distance; kPressed -> kIdle on Release (a click); kDragging -> kIdle
    // on Release (a drop, or nothing outside the frame) or Cancel.
    enum class State { kIdle, kPressed, kDragging };

    void Begin();
    void End();
    void Track();
    void ScrollStep();
    // Pixels per step of the scroll timer at the pointer's present place; 0 outside the
    // edge zones. Negative scrolls up.
    int ScrollSpeed() const;

    TMdiFrame* frame_;
    QWidget* bar_;
    QTimer scrollTimer_;
    State state_ = State::kIdle;
    QPointer<TForm_Grp> pressed_;
    // A press on a window already selected changes the selection only if no drag follows,
    // so that a selection of several can be dragged as a whole.
    bool clickOnRelease_ = false;
    Qt::KeyboardModifiers pressModifiers_;
    QPoint pressPoint_;
    QPoint point_; // last pointer position, in viewport coordinates
};

} // namespace sorowa
