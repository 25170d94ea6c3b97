#pragma once
// The thumbnail windows of the main window's frame and finding one by its number.

#include <QHash>
#include <QList>

class QMdiArea;

namespace sorowa {

class TForm_Grp;

// Every thumbnail window of frame in the frame's order (creation order), including windows
// that are closed but not yet destroyed.
QList<TForm_Grp*> ChildWindows(const QMdiArea* frame);

// The first window whose caption carries number, scanning the frame from the first child.
TForm_Grp* FindByNumber(const QMdiArea* frame, int number);

// The same lookup for commands that look up many numbers: the captions are read once.
class TNumberIndex {
public:
    explicit TNumberIndex(const QList<TForm_Grp*>& windows);
    TForm_Grp* Find(int number) const { return byNumber_.value(number, nullptr); }

private:
    QHash<int, TForm_Grp*> byNumber_;
};

} // namespace sorowa
