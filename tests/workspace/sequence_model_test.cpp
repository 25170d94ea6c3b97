#include "support/widgets.h"
#include "workspace/grid_layout.h"
#include "workspace/mdi_frame.h"
#include "workspace/reorder_drag.h"
#include "workspace/sequence.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

// count windows captioned n;f<n>, placed in the grid three to a row (20 x 20 thumbnails).
class Sequence : public ::testing::Test {
protected:
    void Open(int count) {
        SetThumbnailSize({20, 20});
        frame = std::make_unique<TMdiFrame>();
        TGridPlacer placer({20, 20}, 60);
        for (int n = 1; n <= count; ++n) {
            auto* window = new TForm_Grp(frame.get());
            window->setWindowTitle(QString("%1;f%1").arg(n));
            window->move(placer.Next());
            frame->AppendToSequence(window);
            places.push_back(window->pos());
        }
    }
    void TearDown() override {
        frame.reset();
        test::ExpectNoWindowsLeft();
    }
    TSequence& Model() { return frame->Sequence(); }
    void Select(const std::vector<int>& numbers) {
        frame->SetActiveChild(Model().At(numbers.front()));
        for (const int n : numbers)
            Model().SetSelected(Model().At(n), true);
    }
    // The file numbers in sequence order, read from the captions; each window must stand
    // where its number's place is.
    std::vector<int> Order() {
        std::vector<int> files;
        for (int n = 1; n <= Model().Size(); ++n) {
            TForm_Grp* window = Model().At(n);
            EXPECT_EQ(window->Number(), n) << window->windowTitle().toStdString();
            EXPECT_EQ(window->pos(), places[static_cast<std::size_t>(n - 1)]) << n;
            files.push_back(window->FileName().mid(1).toInt());
        }
        return files;
    }
    std::unique_ptr<TMdiFrame> frame;
    std::vector<QPoint> places;
};

} // namespace

TEST_F(Sequence, CommandsMoveTheSelectionAndUndoRedoTakeThemBackAndForth) {
    using Command = std::function<bool(TSequence&)>;
    const struct {
        const char* name;
        std::vector<int> selected;
        Command command;
        std::vector<int> expected; // empty: nothing changes
    } cases[] = {
        {"one dropped before 2",
         {5},
         [](TSequence& s) { return s.MoveSelectionToGap(1); },
         {1, 5, 2, 3, 4, 6}},
        {"a block dropped after the last",
         {2, 5},
         [](TSequence& s) { return s.MoveSelectionToGap(6); },
         {1, 3, 4, 6, 2, 5}},
        {"a block dropped into itself",
         {2, 3},
         [](TSequence& s) { return s.MoveSelectionToGap(2); },
         {}},
        {"a block to place 1",
         {4, 5},
         [](TSequence& s) { return s.MoveSelectionToPlace(1); },
         {4, 5, 1, 2, 3, 6}},
        {"a place beyond the last that fits",
         {1, 2},
         [](TSequence& s) { return s.MoveSelectionToPlace(6); },
         {3, 4, 5, 6, 1, 2}},
        {"a run one up",
         {3, 4},
         [](TSequence& s) { return s.StepSelection(true); },
         {1, 3, 4, 2, 5, 6}},
        {"scattered ones each one down",
         {2, 4},
         [](TSequence& s) { return s.StepSelection(false); },
         {1, 3, 2, 5, 4, 6}},
        {"a run at the end does not go down",
         {5, 6},
         [](TSequence& s) { return s.StepSelection(false); },
         {}},
        {"the selection reversed in its places",
         {2, 4, 5},
         [](TSequence& s) { return s.ReverseSelection(); },
         {1, 5, 3, 4, 2, 6}},
        {"one selected reverses everything",
         {3},
         [](TSequence& s) { return s.ReverseSelection(); },
         {6, 5, 4, 3, 2, 1}},
        {"the exchange of neighbours",
         {3},
         [](TSequence& s) { return s.Exchange(3, 2); },
         {1, 3, 2, 4, 5, 6}},
    };
    const std::vector<int> original{1, 2, 3, 4, 5, 6};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(6);
        Select(c.selected);
        QSignalSpy changed(&Model(), &TSequence::OrderChanged);
        const bool moved = c.command(Model());
        EXPECT_EQ(moved, !c.expected.empty());
        EXPECT_EQ(changed.count(), moved ? 1 : 0);
        EXPECT_EQ(Order(), c.expected.empty() ? original : c.expected);
        EXPECT_EQ(Model().CanUndo(), moved);
        if (moved) {
            EXPECT_TRUE(Model().Undo());
            EXPECT_EQ(Order(), original);
            EXPECT_TRUE(Model().Redo());
            EXPECT_EQ(Order(), c.expected);
            EXPECT_EQ(changed.count(), 3);
            EXPECT_FALSE(Model().Redo());
        }
        // The selection is the same windows wherever they went.
        EXPECT_EQ(Model().SelectedCount(), static_cast<int>(c.selected.size()));
        frame.reset();
        places.clear();
    }
}

TEST_F(Sequence, ANewChangeEndsTheRedoAndClearingEndsTheHistory) {
    Open(4);
    Select({4});
    Model().MoveSelectionToPlace(1);
    Model().MoveSelectionToPlace(2);
    EXPECT_EQ(Order(), (std::vector<int>{1, 4, 2, 3}));
    Model().Undo();
    Model().StepSelection(false); // 4 is back at place 1
    EXPECT_FALSE(Model().CanRedo());
    EXPECT_EQ(Order(), (std::vector<int>{1, 4, 2, 3}));
    QSignalSpy history(&Model(), &TSequence::HistoryChanged);
    Model().ClearHistory();
    EXPECT_EQ(history.count(), 1);
    EXPECT_FALSE(Model().Undo());
    EXPECT_EQ(Order(), (std::vector<int>{1, 4, 2, 3}));
}

TEST_F(Sequence, ADropGoesBeforeTheLeftHalfAndAfterTheRightHalf) {
    // Rows of three: 1 2 3 / 4 5 6 / 7; windows of 26 x 43, columns 28 and rows 51 apart.
    Open(7);
    const QSize outer = Model().At(1)->size();
    const QPoint second = Model().At(2)->pos();
    const QPoint fifth = Model().At(5)->pos();
    const struct {
        const char* name;
        QPoint point;
        int gap;
    } cases[] = {
        {"left quarter of 2", second + QPoint(outer.width() / 4, 10), 1},
        {"right quarter of 2", second + QPoint(outer.width() * 3 / 4, 10), 2},
        {"the gap before 2", second + QPoint(-3, 10), 1},
        {"the gap below 2, still its row", second + QPoint(2, outer.height() + 4), 1},
        {"past the end of the second row", fifth + QPoint(2 * outer.width() + 40, 10), 6},
        {"left of the first of a row", QPoint(0, fifth.y() + 5), 3},
        {"right of the last window", Model().At(7)->pos() + QPoint(outer.width() - 2, 5), 7},
        {"below every row", QPoint(5, Model().At(7)->y() + 300), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TDropPlace place = DropPlaceAt(Model(), c.point);
        EXPECT_EQ(place.gap, c.gap);
        // The bar stands beside the window the drop goes before, or after the last of a row.
        const TForm_Grp* beside = Model().At(place.gap + 1);
        if (beside != nullptr && beside->y() == place.bar.y())
            EXPECT_TRUE(place.bar.right() >= beside->x() - 8 && place.bar.left() <= beside->x() + 2)
                << place.bar.left();
        else
            EXPECT_EQ(place.bar.left(), Model().At(place.gap)->geometry().right());
    }
}
