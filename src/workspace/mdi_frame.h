#pragma once
// The frame that holds the thumbnail windows: a scrolling area whose child windows stand
// where the grid puts them, one of them the active (selected) child.
//
// It is our own rather than QMdiArea: QMdiArea does work over all its windows each time
// one is shown, activated or moved, so opening a folder of thousands of pictures took
// time growing with the square of their number (bench/workspace/open_folder_bench.cpp).
// Here adding, moving and activating a window cost the same however many there are.
//
// The frame runs the pool that decodes its windows' pictures (decode_pool.h). When the last
// open window closes (the folder is closed) the pool's pending work is cancelled and the
// frame waits for what runs; destroying the frame stops the pool before the windows go.

#include "picture/decode_pool.h"
#include "picture/picture_context.h"
#include "workspace/reorder_drag.h"
#include "workspace/sequence.h"

#include <QList>
#include <QPointer>
#include <QScrollArea>

namespace sorowa {

class TForm_Grp;
namespace gif {
class TRenderer;
}

class TMdiFrame : public QScrollArea {
    Q_OBJECT
public:
    // renderer: the render pool the thumbnails' animations prepare frames on; the frame
    // keeps it until its windows are gone (none: each frame is made when it is due).
    explicit TMdiFrame(QWidget* parent = nullptr, std::shared_ptr<gif::TRenderer> renderer = {});
    ~TMdiFrame() override;

    TDecodePool& Decodes() { return *decodes_; }
    // What the thumbnails' pictures are given: the frame's decode pool and render pool.
    const TPictureContext& PictureContext() const { return pictureContext_; }

    // The thumbnail windows in the order they were added, closed ones included until
    // they are destroyed.
    QList<TForm_Grp*> Children() const;
    TForm_Grp* ActiveChild() const;
    // Makes child the active one (nullptr: none), the only one selected, and gives it the
    // keyboard focus.
    void SetActiveChild(TForm_Grp* child);
    // Makes child (a selected one) the active one and leaves the selection as it is.
    void MakeActive(TForm_Grp* child);

    // The open folder's order, selection and history of changes of order.
    TSequence& Sequence() { return *sequence_; }
    const TSequence& Sequence() const { return *sequence_; }
    // Gives child, whose caption carries the next number, its place in the sequence.
    void AppendToSequence(TForm_Grp* child);
    TReorderDrag& Drag() { return *drag_; }

    // A click on child: alone it selects only child; with Ctrl it adds or removes child;
    // with Shift it selects the range from the last plain or Ctrl click (the anchor).
    void SelectByClick(TForm_Grp* child, Qt::KeyboardModifiers modifiers);
    void SelectAll();
    // An arrow key: the active child becomes the neighbour columns across and rows down
    // in the grid; extend keeps the range from the anchor selected.
    void MoveActive(int columns, int rows, bool extend);

    // Whether child stands, at least in part, in the visible part of the frame. Only those
    // are asked to repaint when their caption or selection changes: Qt keeps every widget
    // asked to repaint until the next paint and then weighs it against all its siblings,
    // so renumbering thousands of windows would cost time growing with the square of
    // their number; a window scrolled into view is painted whole anyway.
    bool InView(const QWidget* child) const;

    // The frame shrinks with the main window as far as the user likes; thumbnails that do
    // not fit are reached with the scroll bars.
    QSize minimumSizeHint() const override { return {0, 0}; }

    // The windows' reach is measured afresh when the present command is over (after a
    // re-layout it may have shrunk).
    void RemeasureLater();

    // Called by the child windows.
    void AddChild(TForm_Grp* child);
    void ChildGeometryChanged(const QRect& geometry);
    void ChildClosed(TForm_Grp* child);

private:
    void FitCanvas();
    void Remeasure();
    // How many windows stand in the first row of the grid.
    int RowLength() const;

    std::unique_ptr<TDecodePool> decodes_;
    std::shared_ptr<gif::TRenderer> renderer_;
    TPictureContext pictureContext_;
    int openChildren_ = 0;
    QWidget* canvas_;
    QPointer<TForm_Grp> active_;
    QPointer<TForm_Grp> anchor_; // where a Shift selection starts
    std::unique_ptr<TSequence> sequence_;
    TReorderDrag* drag_;
    QSize extent_; // right and bottom edge of all child windows
    bool remeasurePending_ = false;
    bool fitPending_ = false;
};

} // namespace sorowa
