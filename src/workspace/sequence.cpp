#include "workspace/sequence.h"

#include "workspace/mdi_frame.h"
#include "workspace/reorder.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_window.h"

#include <algorithm>

namespace sorowa {
namespace {

void SetNumber(TForm_Grp* window, int number) {
    window->setWindowTitle(BuildSequenceCaption(QString::number(number), window->FileName()));
}

} // namespace

void TSequence::Append(TForm_Grp* window) {
    order_.push_back(window);
}

void TSequence::Clear() {
    const bool hadHistory = CanUndo() || CanRedo();
    order_.clear();
    selected_.clear();
    undo_.clear();
    redo_.clear();
    if (hadHistory) emit HistoryChanged();
}

TForm_Grp* TSequence::At(int number) const {
    return number >= 1 && number <= Size() ? order_[static_cast<std::size_t>(number - 1)] : nullptr;
}

int TSequence::NumberOf(const TForm_Grp* window) const {
    // The caption's number is read once per caption change; it names the place unless the
    // window is not in the sequence at all.
    const auto number = window != nullptr ? window->Number() : std::nullopt;
    return number && At(*number) == window ? *number : 0;
}

std::vector<int> TSequence::SelectedNumbers() const {
    std::vector<int> numbers;
    numbers.reserve(selected_.size());
    for (const TForm_Grp* window : selected_)
        if (const int number = NumberOf(window)) numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void TSequence::Repaint(TForm_Grp* window) const {
    if (window != nullptr && window->Frame()->InView(window)) window->update();
}

void TSequence::SelectOnly(TForm_Grp* window) {
    if (selected_.size() == 1 && selected_.contains(window)) return;
    for (const TForm_Grp* old : selected_)
        Repaint(const_cast<TForm_Grp*>(old));
    selected_.clear();
    if (NumberOf(window) != 0) selected_.insert(window);
    Repaint(window);
}

void TSequence::SetSelected(TForm_Grp* window, bool selected) {
    if (NumberOf(window) == 0) return;
    const bool changed = selected ? selected_.insert(window).second : selected_.erase(window) > 0;
    if (changed) Repaint(window);
}

void TSequence::SelectRange(int a, int b) {
    const int from = std::clamp(std::min(a, b), 1, std::max(Size(), 1));
    const int to = std::clamp(std::max(a, b), 1, Size());
    for (const TForm_Grp* old : selected_)
        Repaint(const_cast<TForm_Grp*>(old));
    selected_.clear();
    for (int n = from; n <= to; ++n) {
        selected_.insert(At(n));
        Repaint(At(n));
    }
}

void TSequence::SelectAll() {
    SelectRange(1, Size());
}

void TSequence::Place(int first, std::span<TForm_Grp* const> windows) {
    // The positions of the places, read before any window leaves its place.
    std::vector<QPoint> positions;
    positions.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i)
        positions.push_back(order_[static_cast<std::size_t>(first) + i]->pos());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        TForm_Grp*& slot = order_[static_cast<std::size_t>(first) + i];
        if (slot == windows[i]) continue;
        slot = windows[i];
        slot->move(positions[i]);
        SetNumber(slot, first + static_cast<int>(i) + 1);
    }
}

void TSequence::Record(Change change) {
    undo_.push_back(std::move(change));
    redo_.clear();
    emit HistoryChanged();
    emit OrderChanged();
}

bool TSequence::CommitOrder(const std::vector<TForm_Grp*>& newOrder) {
    // Only the stretch between the first and the last place that changed is rewritten and
    // kept in the history.
    const auto firstDiff = std::mismatch(order_.begin(), order_.end(), newOrder.begin());
    if (firstDiff.first == order_.end()) return false;
    const auto lastDiff = std::mismatch(order_.rbegin(), order_.rend(), newOrder.rbegin());
    const auto first = firstDiff.first - order_.begin();
    const auto end = lastDiff.first.base() - order_.begin();
    Change change;
    change.first = static_cast<int>(first);
    change.before.assign(order_.begin() + first, order_.begin() + end);
    change.after.assign(newOrder.begin() + first, newOrder.begin() + end);
    Place(change.first, change.after);
    Record(std::move(change));
    return true;
}

bool TSequence::MoveSelectionToGap(int gap) {
    gap = std::clamp(gap, 0, Size());
    int restBefore = 0;
    for (int i = 0; i < gap; ++i)
        if (!selected_.contains(order_[static_cast<std::size_t>(i)])) ++restBefore;
    return MoveBlock(restBefore);
}

bool TSequence::MoveSelectionToPlace(int place) {
    return MoveBlock(std::clamp(place - 1, 0, Size() - SelectedCount()));
}

bool TSequence::MoveBlock(int restBefore) {
    std::vector<TForm_Grp*> block;
    std::vector<TForm_Grp*> rest;
    block.reserve(selected_.size());
    rest.reserve(order_.size());
    for (TForm_Grp* window : order_)
        (selected_.contains(window) ? block : rest).push_back(window);
    if (block.empty()) return false;
    restBefore = std::clamp(restBefore, 0, static_cast<int>(rest.size()));
    rest.insert(rest.begin() + restBefore, block.begin(), block.end());
    return CommitOrder(rest);
}

bool TSequence::StepSelection(bool up) {
    const std::vector<int> numbers = SelectedNumbers();
    if (numbers.empty()) return false;
    if (up ? numbers.front() == 1 : numbers.back() == Size()) return false;
    std::vector<TForm_Grp*> newOrder = order_;
    // Each selected window swaps with its neighbour; taken from the leading end, so that a
    // run of selected windows moves as one block and the window it passes goes round it.
    if (up) {
        for (const int n : numbers)
            std::swap(newOrder[static_cast<std::size_t>(n - 1)],
                      newOrder[static_cast<std::size_t>(n - 2)]);
    } else {
        for (auto it = numbers.rbegin(); it != numbers.rend(); ++it)
            std::swap(newOrder[static_cast<std::size_t>(*it - 1)],
                      newOrder[static_cast<std::size_t>(*it)]);
    }
    return CommitOrder(newOrder);
}

bool TSequence::ReverseSelection() {
    std::vector<int> numbers = SelectedNumbers();
    if (Size() == 0) return false;
    if (numbers.size() <= 1) {
        numbers.resize(static_cast<std::size_t>(Size()));
        for (int n = 1; n <= Size(); ++n)
            numbers[static_cast<std::size_t>(n - 1)] = n;
    }
    std::vector<TForm_Grp*> newOrder = order_;
    for (std::size_t i = 0, j = numbers.size() - 1; i < j; ++i, --j)
        std::swap(newOrder[static_cast<std::size_t>(numbers[i] - 1)],
                  newOrder[static_cast<std::size_t>(numbers[j] - 1)]);
    return CommitOrder(newOrder);
}

bool TSequence::Exchange(int k, int t) {
    TForm_Grp* a = At(k);
    TForm_Grp* b = At(t);
    if (a == nullptr || b == nullptr || (t != k - 1 && t != k + 1)) return false;
    const QPoint aPosition = a->pos();
    const QPoint bPosition = b->pos();
    // The moving window carries the marker until its neighbour has taken its number.
    a->move(bPosition);
    a->setWindowTitle(
        BuildSequenceCaption(QString::number(TemporaryMarker(Size())), a->FileName()));
    b->move(aPosition);
    SetNumber(b, k);
    SetNumber(a, t);
    std::swap(order_[static_cast<std::size_t>(k - 1)], order_[static_cast<std::size_t>(t - 1)]);
    Change change;
    change.first = std::min(k, t) - 1;
    change.before = {k < t ? a : b, k < t ? b : a};
    change.after = {change.before[1], change.before[0]};
    Record(std::move(change));
    return true;
}

bool TSequence::Undo() {
    if (undo_.empty()) return false;
    Change change = std::move(undo_.back());
    undo_.pop_back();
    Place(change.first, change.before);
    redo_.push_back(std::move(change));
    emit HistoryChanged();
    emit OrderChanged();
    return true;
}

bool TSequence::Redo() {
    if (redo_.empty()) return false;
    Change change = std::move(redo_.back());
    redo_.pop_back();
    Place(change.first, change.after);
    undo_.push_back(std::move(change));
    emit HistoryChanged();
    emit OrderChanged();
    return true;
}

void TSequence::ClearHistory() {
    if (!CanUndo() && !CanRedo()) return;
    undo_.clear();
    redo_.clear();
    emit HistoryChanged();
}

} // namespace sorowa
