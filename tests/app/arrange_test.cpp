// Arranging by hand in the real main window: selections by click and key, drags over the
// frame, the 実行 menu's commands, undo and redo of the order, and the rename after them.
//
// Mouse events go through the window system layer, so that the widget that took the press
// keeps the mouse while dragging as it does under a real window system.
#define QTEST_QPA_MOUSE_HANDLING

#include "main_window_fixture.h"
#include "workspace/image.h"
#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"
#include "workspace/move_place_dialog.h"
#include "workspace/sequence.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

using namespace sorowa;

namespace {

class Arrange : public test::MainWindowFixture {
protected:
    // Files p001.bmp ... of different widths, so that a renamed file tells which it was.
    void OpenPictures(int count) {
        for (int i = 1; i <= count; ++i)
            folder.Write(QString("p%1.bmp").arg(i, 3, 10, QChar('0')), test::MakeBmp(i, 1));
        Reopen(count);
    }
    void Reopen(int count) {
        // Each opening starts from name order: the arrangement saved by the moves before is
        // not offered (arrangement_restore_test shows that).
        QDir(stateFolder.Path() + QStringLiteral("/sorowa")).removeRecursively();
        Open(folder.Path());
        ASSERT_EQ(Windows().size(), count);
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main));
        QTest::mouseMove(main->MdiFrame()->viewport(), QPoint(1, 1));
    }
    void CloseFolder() {
        main->MF_CloseClick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(Windows().isEmpty());
    }
    TSequence& Model() { return main->MdiFrame()->Sequence(); }
    // The picture files' numbers (p003.bmp: 3) in the order shown, read from the captions.
    std::vector<int> Order() const {
        std::vector<int> files;
        for (int n = 1; n <= Windows().size(); ++n)
            files.push_back(Window(n)->FileName().mid(1, 3).toInt());
        return files;
    }
    TForm_Grp* Picture(int file) const {
        for (TForm_Grp* window : Windows())
            if (window->FileName() == QString("p%1.bmp").arg(file, 3, 10, QChar('0')))
                return window;
        return nullptr;
    }
    std::vector<int> Selected() const {
        std::vector<int> files;
        for (const int n : main->MdiFrame()->Sequence().SelectedNumbers())
            files.push_back(Window(n)->FileName().mid(1, 3).toInt());
        std::sort(files.begin(), files.end());
        return files;
    }
    int Active() const {
        const TForm_Grp* active = main->MdiFrame()->ActiveChild();
        return active != nullptr ? active->FileName().mid(1, 3).toInt() : 0;
    }
    // A point on file's picture, fraction of the way across it.
    static QPoint Across(TForm_Grp* window, double fraction) {
        return {static_cast<int>(window->Image1()->width() * fraction),
                window->Image1()->height() / 2};
    }
    // The user scrolls to a thumbnail before clicking it.
    void Click(int file, Qt::KeyboardModifiers modifiers = {}) {
        main->MdiFrame()->ensureWidgetVisible(Picture(file), 0, 0);
        QTest::mouseClick(Picture(file)->Image1(), Qt::LeftButton, modifiers,
                          Across(Picture(file), 0.5));
    }
    // Presses on file's picture and moves past the drag distance.
    void StartDrag(int file) {
        QWidget* image = Picture(file)->Image1();
        main->MdiFrame()->ensureWidgetVisible(Picture(file), 0, 0);
        QTest::mousePress(image, Qt::LeftButton, {}, Across(Picture(file), 0.5));
        QTest::mouseMove(image, Across(Picture(file), 0.5) + QPoint(12, 3));
        ASSERT_TRUE(main->MdiFrame()->Drag().Dragging());
    }
    QWidget* Bar() const { return main->MdiFrame()->Drag().Bar(); }
    void ExpectMarked(TForm_Grp* window, bool marked) {
        // The corner of the border shows the selection colour on selected windows only.
        const QColor corner = window->grab().toImage().pixelColor(0, 0);
        EXPECT_EQ(corner == window->palette().color(QPalette::Highlight), marked)
            << window->windowTitle().toStdString();
    }
    test::TempFolder folder;
};

} // namespace

TEST_F(Arrange, ClicksAndKeysSelect) {
    OpenPictures(7); // rows 1 2 3 / 4 5 6 / 7
    EXPECT_EQ(Selected(), std::vector<int>{7});
    using Step = std::function<void()>;
    const struct {
        const char* name;
        Step step;
        std::vector<int> selected;
        int active;
    } steps[] = {
        {"click", [&] { Click(2); }, {2}, 2},
        {"Ctrl+click adds", [&] { Click(4, Qt::ControlModifier); }, {2, 4}, 4},
        {"Shift+click selects from the last click",
         [&] { Click(6, Qt::ShiftModifier); },
         {4, 5, 6},
         6},
        {"Ctrl+click removes", [&] { Click(5, Qt::ControlModifier); }, {4, 6}, 6},
        {"Ctrl+A",
         [&] { QTest::keyClick(Picture(6), Qt::Key_A, Qt::ControlModifier); },
         {1, 2, 3, 4, 5, 6, 7},
         6},
        {"Right", [&] { QTest::keyClick(Picture(6), Qt::Key_Right); }, {7}, 7},
        {"Up to the row above", [&] { QTest::keyClick(Picture(7), Qt::Key_Up); }, {4}, 4},
        {"Shift+Left",
         [&] { QTest::keyClick(Picture(4), Qt::Key_Left, Qt::ShiftModifier); },
         {3, 4},
         3},
        {"Shift+Down",
         [&] { QTest::keyClick(Picture(3), Qt::Key_Down, Qt::ShiftModifier); },
         {4, 5, 6},
         6},
        {"Down onto a shorter last row",
         [&] { QTest::keyClick(Picture(6), Qt::Key_Down); },
         {7},
         7},
        {"the only one stays on Ctrl+click", [&] { Click(7, Qt::ControlModifier); }, {7}, 7},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        s.step();
        EXPECT_EQ(Selected(), s.selected);
        EXPECT_EQ(Active(), s.active);
    }
    Click(1);
    Click(3, Qt::ShiftModifier);
    for (int file = 1; file <= 7; ++file)
        ExpectMarked(Picture(file), file <= 3);
    EXPECT_EQ(Order(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(Arrange, DragsLandWhereTheBarShows) {
    const std::vector<int> original{1, 2, 3, 4, 5, 6, 7};
    enum class End { kDrop, kEscape, kOutside };
    const struct {
        const char* name;
        std::vector<int> ctrlClicked; // selected before the drag, besides the pressed one
        int pressed;
        int over;
        double across;
        End end;
        std::vector<int> expected;
    } cases[] = {
        {"onto the left quarter of another", {}, 5, 2, 0.25, End::kDrop, {1, 5, 2, 3, 4, 6, 7}},
        {"onto the right quarter of another", {}, 2, 5, 0.75, End::kDrop, {1, 3, 4, 5, 2, 6, 7}},
        {"a block in its order", {2}, 6, 1, 0.1, End::kDrop, {2, 6, 1, 3, 4, 5, 7}},
        {"onto the first place", {}, 7, 1, 0.2, End::kDrop, {7, 1, 2, 3, 4, 5, 6}},
        {"onto the last place", {}, 1, 7, 0.9, End::kDrop, {2, 3, 4, 5, 6, 7, 1}},
        {"cancelled by Escape", {}, 1, 5, 0.75, End::kEscape, original},
        {"dropped outside the frame", {}, 1, 5, 0.75, End::kOutside, original},
    };
    for (int i = 1; i <= 7; ++i)
        folder.Write(QString("p%1.bmp").arg(i, 3, 10, QChar('0')), test::MakeBmp(i, 1));
    // Tall enough to show all three rows: the drags need no scrolling.
    main->resize(main->width(), 700);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reopen(7);
        QSignalSpy changed(&Model(), &TSequence::OrderChanged);
        Click(c.pressed);
        for (const int file : c.ctrlClicked)
            Click(file, Qt::ControlModifier);
        StartDrag(c.pressed);
        TForm_Grp* over = Picture(c.over);
        QTest::mouseMove(over->Image1(), Across(over, c.across));
        ASSERT_TRUE(Bar()->isVisible());
        // The bar stands in the gap on the side of the window the drop goes to.
        const QRect bar = Bar()->geometry();
        if (c.across < 0.5)
            EXPECT_LE(bar.left(), over->x() + 2);
        else
            EXPECT_GE(bar.left(), over->geometry().right() - 2);
        EXPECT_EQ(bar.top(), over->y());
        QWidget* releasedOver = over->Image1();
        QPoint releasedAt = Across(over, c.across);
        if (c.end == End::kEscape) {
            QTest::keyClick(main->MdiFrame()->ActiveChild(), Qt::Key_Escape);
            EXPECT_FALSE(Bar()->isVisible());
        } else if (c.end == End::kOutside) {
            releasedOver = main->Bt_Save;
            releasedAt = main->Bt_Save->rect().center();
            QTest::mouseMove(releasedOver, releasedAt);
            EXPECT_FALSE(Bar()->isVisible());
        }
        QTest::mouseRelease(releasedOver, Qt::LeftButton, {}, releasedAt);
        EXPECT_FALSE(main->MdiFrame()->Drag().Dragging());
        EXPECT_FALSE(Bar()->isVisible());
        EXPECT_EQ(Order(), c.expected);
        EXPECT_EQ(changed.count(), c.expected == original ? 0 : 1);
        // The windows stand in the grid in their new order.
        EXPECT_EQ(Window(4)->pos(), QPoint(0, 131));
        EXPECT_EQ(Window(7)->pos(), QPoint(0, 262));
        CloseFolder();
    }
}

TEST_F(Arrange, ADragHeldAtTheBottomEdgeScrollsAndLandsBeyondTheFirstScreen) {
    OpenPictures(300);
    TMdiFrame* frame = main->MdiFrame();
    QScrollBar* scroll = frame->verticalScrollBar();
    ASSERT_EQ(scroll->value(), 0);
    Click(1);
    StartDrag(1);
    // Held still, just inside the bottom edge: the frame scrolls on its own.
    const QPoint nearBottom(200, frame->viewport()->height() - 4);
    QTest::mouseMove(frame->viewport(), nearBottom);
    QTRY_VERIFY_WITH_TIMEOUT(scroll->value() > 20 * 131, 20000);
    QTest::mouseMove(frame->viewport(), nearBottom - QPoint(0, 60)); // out of the edge zone
    const int stopped = scroll->value();
    QTest::mouseRelease(frame->viewport(), Qt::LeftButton, {}, nearBottom - QPoint(0, 60));
    EXPECT_EQ(scroll->value(), stopped);
    const int landed = *Picture(1)->Number();
    EXPECT_GT(landed, 20 * 3) << "beyond the first screen, which holds two or three rows";
    // It stands where the pointer let go: on screen, in the frame's visible part.
    const QRect visible(-frame->widget()->pos(), frame->viewport()->size());
    EXPECT_TRUE(visible.intersects(Picture(1)->geometry()));
    EXPECT_EQ(Window(1)->FileName(), "p002.bmp");
}

TEST_F(Arrange, CommandsMoveTheSelectionUndoTakesThemBackAndTheRenameFollowsTheOrder) {
    OpenPictures(6);
    QSignalSpy changed(&Model(), &TSequence::OrderChanged);
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(main->MdiFrame()->ActiveChild(), k, modifiers);
    };
    auto placeDialog = [&](int place) {
        QTimer::singleShot(0, main, [=, this] {
            ASSERT_TRUE(main->Form_Place->isVisible());
            EXPECT_EQ(main->Form_Place->SpEd_Place->MaxValue(), 6);
            main->Form_Place->SpEd_Place->SetValue(place);
            QTest::mouseClick(main->Form_Place->Bt_OK, Qt::LeftButton);
        });
        main->MR_Place->trigger();
        // The window system gives the focus back to the main window once the dialog is
        // gone; the offscreen platform leaves that to the test.
        main->activateWindow();
        EXPECT_TRUE(test::WaitFor([&] { return QApplication::activeWindow() == main; }));
    };
    using Step = std::function<void()>;
    const struct {
        const char* name;
        Step step;
        std::vector<int> expected;
    } steps[] = {
        {"Ctrl+Home",
         [&] {
             Click(5);
             key(Qt::Key_Home, Qt::ControlModifier);
         },
         {5, 1, 2, 3, 4, 6}},
        {"Ctrl+End on two",
         [&] {
             Click(2, Qt::ControlModifier);
             key(Qt::Key_End, Qt::ControlModifier);
         },
         {1, 3, 4, 6, 5, 2}},
        {"to place 2", [&] { placeDialog(2); }, {1, 5, 2, 3, 4, 6}},
        {"reversed", [&] { main->MR_Reverse->trigger(); }, {1, 2, 5, 3, 4, 6}},
        {"Page Up on the block", [&] { key(Qt::Key_PageUp); }, {2, 5, 1, 3, 4, 6}},
        {"▼DOWN on the block", [&] { main->Bt_Down->click(); }, {1, 2, 5, 3, 4, 6}},
        {"Ctrl+Z", [&] { key(Qt::Key_Z, Qt::ControlModifier); }, {2, 5, 1, 3, 4, 6}},
        {"Ctrl+Z again", [&] { key(Qt::Key_Z, Qt::ControlModifier); }, {1, 2, 5, 3, 4, 6}},
        {"Ctrl+Y", [&] { key(Qt::Key_Y, Qt::ControlModifier); }, {2, 5, 1, 3, 4, 6}},
        {"Ctrl+Z", [&] { key(Qt::Key_Z, Qt::ControlModifier); }, {1, 2, 5, 3, 4, 6}},
        {"Ctrl+Shift+Z",
         [&] { key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); },
         {2, 5, 1, 3, 4, 6}},
        {"Page Down on one is the exchange",
         [&] {
             Click(3);
             key(Qt::Key_PageDown);
         },
         {2, 5, 1, 4, 3, 6}},
        {"everything reversed", [&] { main->MR_Reverse->trigger(); }, {6, 3, 4, 1, 5, 2}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        s.step();
        EXPECT_EQ(Order(), s.expected);
    }
    EXPECT_EQ(changed.count(), static_cast<int>(std::size(steps)));
    // Seven changes are in force (two were undone and redone, one undone for good).
    const std::vector<int> shown{6, 3, 4, 1, 5, 2};
    for (int i = 0; i < 7; ++i)
        key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<int>{1, 2, 3, 4, 5, 6})) << "every change taken back";
    EXPECT_FALSE(main->MR_UndoOrder->isEnabled());
    for (int i = 0; i < 8; ++i)
        key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Order(), shown);

    QTimer::singleShot(0, main, [this] {
        main->Form_Henkou->Ed_FName->setText("photo");
        main->Form_Henkou->SpEd_FNK->SetValue(2);
        main->Form_Henkou->SpEd_FNSN->SetValue(1);
        QTest::mouseClick(main->Form_Henkou->Bt_OK, Qt::LeftButton);
    });
    main->Bt_Save->click();
    EXPECT_TRUE(messages.Messages().isEmpty());
    for (int n = 1; n <= 6; ++n) {
        const QString name = QString("photo%1.bmp").arg(n, 2, 10, QChar('0'));
        EXPECT_EQ(Window(n)->FileName(), name);
        EXPECT_EQ(test::ReadFileBytes(folder.File(name)),
                  test::MakeBmp(shown[static_cast<std::size_t>(n - 1)], 1));
    }
    // The rename ends the history of the order; the File menu's 元に戻す undoes the rename.
    EXPECT_FALSE(main->MR_UndoOrder->isEnabled());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Window(1)->FileName(), "photo01.bmp");
    EXPECT_TRUE(main->MF_Undo->isEnabled());
    main->MF_Undo->trigger();
    EXPECT_EQ(Window(1)->FileName(), "p006.bmp");
    EXPECT_EQ(Order(), shown);
}
