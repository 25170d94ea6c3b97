#include "main_window_fixture.h"

#include <QAction>
#include <QPushButton>

using namespace sorowa;

namespace {

class Reorder : public test::MainWindowFixture {
protected:
    void OpenPictures(int count) {
        for (int i = 1; i <= count; ++i)
            folder.Write(QString("p%1.bmp").arg(i, 2, 10, QChar('0')), test::MakeBmp(2, 2));
        Open(folder.Path());
        ASSERT_EQ(Windows().size(), count);
    }
    void Select(int number) { main->MdiFrame()->SetActiveChild(Window(number)); }
    QMap<QString, QPoint> PositionsByName() const {
        QMap<QString, QPoint> positions;
        for (TForm_Grp* window : Windows())
            positions[window->windowTitle()] = window->pos();
        return positions;
    }
    test::TempFolder folder;
};

} // namespace

TEST_F(Reorder, NumberThreeUpInFive) {
    OpenPictures(5);
    const QMap<QString, QPoint> before = PositionsByName();
    TForm_Grp* three = Window(3);
    Select(3);
    main->Bt_Up->click();
    EXPECT_EQ(three->windowTitle(), "2;p03.bmp");
    EXPECT_EQ(three->pos(), before["2;p02.bmp"]);
    EXPECT_EQ(Window(3)->windowTitle(), "3;p02.bmp");
    EXPECT_EQ(Window(3)->pos(), before["3;p03.bmp"]);
    for (const char* unchanged : {"1;p01.bmp", "4;p04.bmp", "5;p05.bmp"})
        EXPECT_EQ(PositionsByName()[unchanged], before[unchanged]);
    EXPECT_EQ(main->MdiFrame()->ActiveChild(), three);
    // The same command again moves the same picture one place further.
    main->MR_Up->trigger();
    EXPECT_EQ(three->windowTitle(), "1;p03.bmp");
    EXPECT_EQ(three->pos(), before["1;p01.bmp"]);
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(Reorder, TheEndsOfTheSequenceDoNotMove) {
    OpenPictures(3);
    const QMap<QString, QPoint> before = PositionsByName();
    Select(1);
    main->Bt_Up->click();
    Select(3);
    main->MR_Down->trigger();
    EXPECT_EQ(PositionsByName(), before);
}

TEST_F(Reorder, MovingDownAcrossARowEnd) {
    OpenPictures(5); // three per row
    Select(3);
    main->Bt_Down->click();
    EXPECT_EQ(Window(4)->windowTitle(), "4;p03.bmp");
    EXPECT_EQ(Window(4)->pos(), QPoint(0, 131));
    EXPECT_EQ(Window(3)->windowTitle(), "3;p04.bmp");
    EXPECT_EQ(Window(3)->pos(), QPoint(216, 0));
    // A later re-layout puts every window back where it already is.
    const QMap<QString, QPoint> before = PositionsByName();
    main->FormResize();
    EXPECT_EQ(PositionsByName(), before);
}

TEST_F(Reorder, PageUpRightAfterOpeningMovesTheLastPictureOnce) {
    OpenPictures(4);
    // Key preview: Page Up in one of the main window's own controls.
    main->Bt_Save->setFocus();
    QTest::keyClick(main->Bt_Save, Qt::Key_PageUp);
    EXPECT_EQ(Window(3)->windowTitle(), "3;p04.bmp");
    EXPECT_EQ(Window(4)->windowTitle(), "4;p03.bmp");
}

TEST_F(Reorder, PageKeysInAThumbnailMoveItOnceOnly) {
    OpenPictures(4);
    TForm_Grp* two = Window(2);
    Select(2);
    two->setFocus();
    QTest::keyClick(two, Qt::Key_PageDown);
    EXPECT_EQ(two->windowTitle(), "3;p02.bmp");
    QTest::keyClick(two, Qt::Key_PageUp);
    QTest::keyClick(two, Qt::Key_PageUp);
    EXPECT_EQ(two->windowTitle(), "1;p02.bmp");
}

TEST_F(Reorder, FileNamesWithSemicolonsComeThroughWhole) {
    folder.Write("a;1.bmp", test::MakeBmp(2, 2));
    folder.Write("b;2.bmp", test::MakeBmp(2, 2));
    Open(folder.Path());
    Select(2);
    main->Bt_Up->click();
    EXPECT_EQ(Window(1)->windowTitle(), "1;b;2.bmp");
    EXPECT_EQ(Window(2)->windowTitle(), "2;a;1.bmp");
}

TEST_F(Reorder, OnlyTheTwoButtonsAreTold) {
    OpenPictures(2);
    const QMap<QString, QPoint> before = PositionsByName();
    main->Bt_UpDownClick(main->Bt_Save);
    main->Bt_UpDownClick(nullptr);
    EXPECT_EQ(PositionsByName(), before);
}
