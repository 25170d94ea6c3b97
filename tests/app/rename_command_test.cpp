#include "main_window_fixture.h"
#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace sorowa;

namespace {

class RenameCommand : public test::MainWindowFixture {
protected:
    // Answers the rename dialog once it is up: fills it and presses OK (or Cancel).
    void AnswerDialog(const QString& base, int digits, int start, bool ok = true) {
        QTimer::singleShot(0, main, [=, this] {
            TForm_Henkou* dialog = main->Form_Henkou;
            ASSERT_TRUE(dialog->isVisible());
            dialog->Ed_FName->setText(base);
            dialog->SpEd_FNK->SetValue(digits);
            dialog->SpEd_FNSN->SetValue(start);
            QTest::mouseClick(ok ? dialog->Bt_OK : dialog->Bt_Cancel, Qt::LeftButton);
        });
    }
    test::TempFolder folder;
};

} // namespace

TEST_F(RenameCommand, RenamesInTheOrderShownAndRewritesTheCaptions) {
    folder.Write("b.JPG", test::MakeBmp(1, 1)); // not decodable as JPEG: an empty thumbnail
    folder.Write("a.gif", "gif?");
    folder.Write("my.trip.bmp", test::MakeBmp(2, 2));
    Open(folder.Path());
    ASSERT_EQ(Captions(), (QStringList{"1;a.gif", "2;b.JPG", "3;my.trip.bmp"}));
    // Move my.trip.bmp to the front.
    main->MdiFrame()->SetActiveChild(Window(3));
    main->Bt_Up->click();
    main->Bt_Up->click();
    messages.Clear();
    TForm_Grp* selected = main->MdiFrame()->ActiveChild();
    AnswerDialog("photo", 3, 1);
    main->Bt_Save->click();
    EXPECT_TRUE(messages.Messages().isEmpty());
    EXPECT_EQ(main->MdiFrame()->ActiveChild(), selected);
    EXPECT_EQ(Captions(), (QStringList{"2;photo002.gif", "3;photo003.JPG", "1;photo001.bmp"}));
    EXPECT_EQ(test::ReadFileBytes(folder.File("photo001.bmp")), test::MakeBmp(2, 2));
    EXPECT_EQ(test::ReadFileBytes(folder.File("photo002.gif")), "gif?");
    EXPECT_TRUE(QFileInfo::exists(folder.File("photo003.JPG")));
    // No re-layout and no state change.
    EXPECT_TRUE(main->Bt_Save->isEnabled());
    EXPECT_EQ(Window(1)->pos(), QPoint(0, 0));
}

TEST_F(RenameCommand, CancelRenamesNothing) {
    folder.Write("x.bmp", test::MakeBmp(1, 1));
    Open(folder.Path());
    AnswerDialog("y", 1, 1, false);
    main->MF_Save->trigger();
    EXPECT_EQ(Captions(), QStringList{"1;x.bmp"});
    EXPECT_TRUE(QFileInfo::exists(folder.File("x.bmp")));
}

TEST_F(RenameCommand, EachFailureGivesOnePlainMessageAndTheRestIsRenamed) {
    folder.Write("k1.bmp", test::MakeBmp(1, 1));
    folder.Write("k2.bmp", test::MakeBmp(2, 1));
    folder.Write("k3.bmp", test::MakeBmp(3, 1));
    Open(folder.Path());
    // k1 -> k2 (taken), k2 -> k3 (taken), k3 -> k4.
    AnswerDialog("k", 1, 2);
    main->Bt_Save->click();
    ASSERT_EQ(messages.Texts(), (QStringList{"ファイル名変更失敗！", "ファイル名変更失敗！"}));
    EXPECT_EQ(messages.Messages()[0].caption, "Sorowa");
    EXPECT_EQ(messages.Messages()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(Captions(), (QStringList{"1;k1.bmp", "2;k2.bmp", "3;k4.bmp"}));
    EXPECT_EQ(test::ReadFileBytes(folder.File("k4.bmp")), test::MakeBmp(3, 1));
}
