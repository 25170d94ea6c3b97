#pragma once
// The thumbnail windows of the main window's frame and finding one by its number.

#include <QList>
#include <vector>

namespace sorowa {

class TForm_Grp;
class TMdiFrame;

// Every thumbnail window of frame in the frame's order (creation order), including windows
// that are closed but not yet destroyed.
QList<TForm_Grp*> ChildWindows(const TMdiFrame* frame);

// The first window whose caption carries number, scanning the frame from the first child.
TForm_Grp* FindByNumber(const TMdiFrame* frame, int number);

// The same lookup for commands that look up the numbers 1..N of N windows: the captions
// are read once. Numbers outside 1..N are not kept.
class TNumberIndex {
public:
    explicit TNumberIndex(const QList<TForm_Grp*>& windows);
    TForm_Grp* Find(int number) const {
        return number >= 1 && number < static_cast<int>(byNumber_.size()) ? byNumber_[number]
                                                                          : nullptr;
    }

private:
    std::vector<TForm_Grp*> byNumber_;
};

} // namespace sorowa
