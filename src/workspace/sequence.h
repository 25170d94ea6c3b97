#pragma once
// The order of the open folder's thumbnails, which of them are selected, and the history
// of the user's changes of order.
//
// The windows' captions still carry the numbers (number;file name), and the rename reads
// them there; this model holds the same order as a vector, so that a command finds the
// window at a place, or the place of a window, without reading every caption. Every change
// of order goes through here, and it rewrites the caption and the position of exactly the
// windows whose number changed, so captions and model never disagree once a command is
// over. A window's position travels with its number: the window that takes a place takes
// the position the place had.
//
// Selection: while the folder is open at least one window is selected, and the frame's
// active child is always one of the selected (the frame keeps that so).

#include <QObject>
#include <QPoint>
#include <span>
#include <unordered_set>
#include <vector>

namespace sorowa {

class TForm_Grp;

class TSequence : public QObject {
    Q_OBJECT
public:
    explicit TSequence(QObject* parent = nullptr) : QObject(parent) {}

    // Gives window the next number. Its caption must already carry that number.
    void Append(TForm_Grp* window);
    // The folder is closed: order, selection and history are gone.
    void Clear();

    int Size() const { return static_cast<int>(order_.size()); }
    // The window with number (1 = first), nullptr outside 1..Size().
    TForm_Grp* At(int number) const;
    // The number of window, 0 when it is not in the sequence.
    int NumberOf(const TForm_Grp* window) const;

    // Selection.
    bool IsSelected(const TForm_Grp* window) const { return selected_.contains(window); }
    int SelectedCount() const { return static_cast<int>(selected_.size()); }
    // The numbers of the selected windows, ascending.
    std::vector<int> SelectedNumbers() const;
    void SelectOnly(TForm_Grp* window);
    void SetSelected(TForm_Grp* window, bool selected);
    // Selects exactly the windows numbered from a to b (either order).
    void SelectRange(int a, int b);
    void SelectAll();

    // Changes of order. Each returns whether the order changed; each change that does is
    // one step of the history and one OrderChanged.
    //
    // The selection, in its present order, moved so that it stands before the window that
    // now stands at place gap + 1 (gap 0 = before the first, Size() = after the last);
    // gap counts the selected windows too, as a drop between two thumbnails sees it.
    bool MoveSelectionToGap(int gap);
    // The selection, in its present order, moved so that its first window gets number
    // place (clamped so that the block fits).
    bool MoveSelectionToPlace(int place);
    // Every selected window one place up (towards 1) or down; nothing moves when the
    // selection already touches that end.
    bool StepSelection(bool up);
    // The selected windows' order reversed within their places, or the whole sequence
    // when at most one is selected.
    bool ReverseSelection();
    // The exchange of the window numbered k with its neighbour t = k +- 1: numbers and
    // positions swap, with a moment in which the moving window carries the marker number.
    bool Exchange(int k, int t);

    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    bool Undo();
    bool Redo();
    // A rename ends the history of changes of order.
    void ClearHistory();

signals:
    // Once per change of order the user made (move, exchange, undo, redo).
    void OrderChanged();
    // Whether there is something to undo or redo may have changed.
    void HistoryChanged();

private:
    // One change: the places first .. first + before.size() - 1 held before, now hold after.
    struct Change {
        int first = 0;
        std::vector<TForm_Grp*> before;
        std::vector<TForm_Grp*> after;
    };

    // The selection, in its present order, put after the first restBefore windows that
    // are not selected.
    bool MoveBlock(int restBefore);
    // Makes newOrder (a permutation of the whole order) the order, as one change.
    bool CommitOrder(const std::vector<TForm_Grp*>& newOrder);
    // Records a change that is already in force.
    void Record(Change change);
    // Puts windows into the places from first on (0-based), renumbering and moving only
    // the windows whose place changed.
    void Place(int first, std::span<TForm_Grp* const> windows);
    void Repaint(TForm_Grp* window) const;

    std::vector<TForm_Grp*> order_;
    std::unordered_set<const TForm_Grp*> selected_;
    std::vector<Change> undo_;
    std::vector<Change> redo_;
};

} // namespace sorowa
