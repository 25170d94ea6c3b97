#include "main_window_fixture.h"
#include "workspace/thumbnail_size.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using namespace sorowa;

namespace {
class OpenFolder : public test::MainWindowFixture {};
} // namespace

TEST_F(OpenFolder, NumbersTheListedFilesInNameOrderAndEntersTheFolderOpenState) {
    test::TempFolder folder;
    folder.Write("b.jpg", test::MakeBmp(2, 2).constData()); // not a JPEG: fails to load
    folder.Write("A.bmp", test::MakeBmp(3, 3));
    folder.Write("c.GIF", "");
    folder.Write("d.jpeg", "");
    Open(folder.Path());
    EXPECT_EQ(Captions(), (QStringList{"1;A.bmp", "2;b.jpg", "3;c.GIF"}));
    EXPECT_EQ(main->Lb_Fol2->text(), folder.Path());
    EXPECT_FALSE(main->Bt_Open->isEnabled());
    EXPECT_FALSE(main->MF_Open->isEnabled());
    EXPECT_TRUE(main->Bt_Up->isEnabled());
    EXPECT_TRUE(main->Bt_Down->isEnabled());
    EXPECT_TRUE(main->Bt_Save->isEnabled());
    EXPECT_TRUE(main->MF_Save->isEnabled());
    EXPECT_TRUE(main->MF_Close->isEnabled());
    EXPECT_TRUE(main->M_Run->menuAction()->isEnabled());
    EXPECT_TRUE(main->KeyPreview());
    EXPECT_EQ(main->MdiFrame()->ActiveChild(), Window(3));
    EXPECT_EQ(QDir(platform::CurrentDirectory()), QDir(folder.Path()));
}

TEST_F(OpenFolder, PlacesTheThumbnailsInRows) {
    test::TempFolder folder;
    for (int i = 1; i <= 5; ++i)
        folder.Write(QString("%1.bmp").arg(i), test::MakeBmp(4, 4));
    Open(folder.Path());
    ASSERT_EQ(Windows().size(), 5);
    EXPECT_EQ(main->frameGeometry().width(), 449);
    const QPoint expected[] = {{0, 0}, {108, 0}, {216, 0}, {0, 131}, {108, 131}};
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(Window(n)->pos(), expected[n - 1]) << n;
        EXPECT_EQ(Window(n)->ClientSize(), QSize(100, 100));
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(OpenFolder, AFolderWithoutPicturesGivesTheMessageAndStaysClosed) {
    test::TempFolder folder;
    folder.Write("readme.txt", "");
    Open(folder.Path());
    ASSERT_EQ(messages.Messages().size(), 1);
    EXPECT_EQ(messages.Messages()[0].text, "取り扱えるグラフィックファイルがありません");
    EXPECT_EQ(messages.Messages()[0].caption, "Sorowa");
    EXPECT_EQ(messages.Messages()[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(main->Bt_Open->isEnabled());
    EXPECT_FALSE(main->KeyPreview());
    EXPECT_TRUE(Windows().isEmpty());
}

TEST_F(OpenFolder, AVanishedFolderGoesToTheErrorDisplay) {
    test::TempFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir("vanished"));
    // Chosen, then gone before the chooser is confirmed.
    beforeConfirm = [&] { ASSERT_TRUE(QDir(folder.Path()).rmdir("vanished")); };
    Open(folder.File("vanished"));
    ASSERT_EQ(messages.Messages().size(), 1);
    EXPECT_EQ(messages.Messages()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(messages.Messages()[0].text.contains("vanished"));
    EXPECT_TRUE(main->Bt_Open->isEnabled());
    EXPECT_TRUE(Windows().isEmpty());
}

TEST_F(OpenFolder, CancellingTheChooserChangesNothing) {
    chosenFolder.reset();
    main->Bt_Open->click();
    EXPECT_TRUE(messages.Messages().isEmpty());
    EXPECT_TRUE(main->Bt_Open->isEnabled());
    EXPECT_EQ(chooserStarts.size(), 1);
}

TEST_F(OpenFolder, PicturesThatAllFailStillOpenWithOneMessageEach) {
    test::TempFolder folder;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        folder.Write(name, "junk");
    // While a failure's message is open, its thumbnail is already in its place in the row.
    QList<QPoint> placesWhileOpen;
    messages.WhileOpen([&] { placesWhileOpen.append(Windows().constLast()->pos()); });
    Open(folder.Path());
    EXPECT_EQ(placesWhileOpen, (QList<QPoint>{{0, 0}, {108, 0}, {216, 0}}));
    EXPECT_EQ(Windows().size(), 3);
    EXPECT_EQ(messages.Messages().size(), 3);
    for (const auto& box : messages.Messages())
        EXPECT_TRUE(
            box.text.startsWith("ファイルオープンに失敗しました。\n" + folder.Path() + "/"));
    EXPECT_TRUE(main->Bt_Up->isEnabled());
}

TEST_F(OpenFolder, CloseRemovesTheThumbnailsAndReopenListsAfresh) {
    test::TempFolder folder;
    folder.Write("1.bmp", test::MakeBmp(2, 2));
    folder.Write("2.bmp", test::MakeBmp(2, 2));
    Open(folder.Path());
    EXPECT_EQ(Windows().size(), 2);
    main->MF_Close->trigger();
    EXPECT_TRUE(main->Bt_Open->isEnabled());
    EXPECT_TRUE(main->MF_Open->isEnabled());
    EXPECT_FALSE(main->Bt_Up->isEnabled());
    EXPECT_FALSE(main->MF_Close->isEnabled());
    EXPECT_FALSE(main->M_Run->menuAction()->isEnabled());
    EXPECT_TRUE(main->Lb_Fol2->text().isEmpty());
    EXPECT_FALSE(main->KeyPreview());
    EXPECT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
    folder.Write("3.bmp", test::MakeBmp(2, 2));
    main->MF_Open->trigger();
    EXPECT_EQ(Captions(), (QStringList{"1;1.bmp", "2;2.bmp", "3;3.bmp"}));
}

TEST_F(OpenFolder, TheChooserStartsAtTheDefaultFolder) {
    test::TempFolder pictures;
    SetDefaultFolder(pictures.Path());
    chosenFolder.reset();
    main->Bt_Open->click();
    SetDefaultFolder("");
    EXPECT_EQ(chooserStarts, QStringList{pictures.Path()});
}

TEST_F(OpenFolder, ResizingTheMainWindowReLaysOutBySequenceNumber) {
    test::TempFolder folder;
    for (int i = 1; i <= 4; ++i)
        folder.Write(QString("%1.bmp").arg(i), test::MakeBmp(2, 2));
    Open(folder.Path());
    ResizeOuter(700); // L = 559: five per row
    EXPECT_EQ(Window(4)->pos(), QPoint(324, 0));
    ResizeOuter(250); // L = 109: two per row
    EXPECT_EQ(Window(3)->pos(), QPoint(0, 131));
    EXPECT_EQ(Window(4)->pos(), QPoint(108, 131));
    ResizeOuter(130); // L < 0: the first row stays empty
    EXPECT_EQ(Window(1)->pos(), QPoint(0, 131));
}

TEST_F(OpenFolder, ASingleThumbnailIsNeverReLaidOut) {
    test::TempFolder folder;
    folder.Write("only.bmp", test::MakeBmp(2, 2));
    Open(folder.Path());
    ASSERT_EQ(Windows().size(), 1);
    Windows()[0]->move(33, 44);
    ResizeOuter(130);
    EXPECT_EQ(Windows()[0]->pos(), QPoint(33, 44));
}
