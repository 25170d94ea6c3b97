#include "app/main_form.h"
#include "app/startup.h"
#include "picture/bitmap.h"
#include "picture/gif/gif_image.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/picture.h"
#include "platform/directories.h"
#include "support/message_recorder.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/child_windows.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QActionGroup>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        forms = CreateForms({.programFile = programFolder.File("sorowa")});
        main = forms.mainForm.get();
        main->show();
    }
    void TearDown() override {
        forms.mainForm.reset();
        test::ExpectNoWindowsLeft();
    }
    test::TempFolder programFolder;
    TProgramForms forms;
    TForm_Main* main = nullptr;
};

} // namespace

TEST_F(MainWindow, FirstShowEntersTheNoFolderState) {
    EXPECT_TRUE(main->Bt_Open->isEnabled());
    EXPECT_FALSE(main->Bt_Up->isEnabled());
    EXPECT_FALSE(main->Bt_Down->isEnabled());
    EXPECT_FALSE(main->Bt_Save->isEnabled());
    EXPECT_TRUE(main->MF_Open->isEnabled());
    EXPECT_FALSE(main->MF_Save->isEnabled());
    EXPECT_FALSE(main->MF_Close->isEnabled());
    EXPECT_FALSE(main->M_Run->menuAction()->isEnabled());
    EXPECT_TRUE(main->MF_Exit->isEnabled());
    EXPECT_TRUE(main->M_View->menuAction()->isEnabled());
    EXPECT_TRUE(main->M_Help->menuAction()->isEnabled());
    EXPECT_TRUE(main->Lb_Fol2->text().isEmpty());
    EXPECT_FALSE(main->KeyPreview());
    EXPECT_EQ(ThumbnailSize(), QSize(100, 100));
}

TEST_F(MainWindow, InitialThumbnailWindowIsClosedAndDestroyedLater) {
    ASSERT_NE(forms.initialThumbnail, nullptr);
    QPointer<TForm_Grp> initial = forms.initialThumbnail;
    EXPECT_EQ(initial->windowTitle(), "Form_Grp");
    // Closed by the first show, but destroyed only by the event loop.
    EXPECT_FALSE(initial->isVisible());
    EXPECT_EQ(ChildWindows(main->MdiFrame()).size(), 1);
    EXPECT_TRUE(test::WaitFor([&] { return initial.isNull(); }));
    EXPECT_TRUE(ChildWindows(main->MdiFrame()).isEmpty());
}

// As the program starts: the running message loop shows the main window, and the initial
// thumbnail window that the first show closes is destroyed by that same loop. (A plain loop:
// the test helpers that wait also flush deferred deletions and would hide the difference.)
TEST(ProgramStart, InitialThumbnailWindowIsDestroyedByTheRunningLoop) {
    test::TempFolder programFolder;
    TProgramForms forms = CreateForms({.programFile = programFolder.File("sorowa")});
    QPointer<TForm_Grp> initial = forms.initialThumbnail;
    ShowMainFormWhenRunning(*forms.mainForm);
    EXPECT_FALSE(forms.mainForm->isVisible());
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(forms.mainForm->isVisible());
    EXPECT_TRUE(initial.isNull());
    EXPECT_TRUE(ChildWindows(forms.mainForm->MdiFrame()).isEmpty());
    forms.mainForm.reset();
    test::ExpectNoWindowsLeft();
}

TEST_F(MainWindow, ControlsOfThePanel) {
    struct Expected {
        QPushButton* button;
        const char* name;
        const char* caption;
        const char* hint;
        QRect geometry;
    };
    const Expected buttons[] = {
        {main->Bt_Open,
         "Bt_Open",
         "ファルダ参照",
         "指定フォルダ上の画像ファイルをすべて開く",
         {8, 8, 97, 25}},
        {main->Bt_Up, "Bt_Up", "▲ UP ", "選択画像ファイルを上移動", {8, 40, 72, 25}},
        {main->Bt_Down, "Bt_Down", "▼DOWN", "選択画像ファイルを下移動", {80, 40, 72, 25}},
        {main->Bt_Save, "Bt_Save", "名前変更", "ファイル名の一斉変更", {160, 40, 75, 25}},
    };
    for (const Expected& e : buttons) {
        EXPECT_EQ(e.button->objectName(), e.name);
        EXPECT_EQ(e.button->text(), QString::fromUtf8(e.caption));
        EXPECT_EQ(e.button->toolTip(), QString::fromUtf8(e.hint));
        EXPECT_EQ(e.button->geometry(), e.geometry) << e.name;
        EXPECT_EQ(e.button->parentWidget(), main->Panel1);
    }
    EXPECT_EQ(main->Lb_Fol1->text(), "フォルダ：");
    EXPECT_EQ(main->Lb_Fol1->pos(), QPoint(112, 12));
    EXPECT_EQ(main->Lb_Fol2->pos(), QPoint(176, 12));
    EXPECT_EQ(main->Panel1->height(), 71);
    EXPECT_EQ(main->Bevel1->height(), 2);
    EXPECT_EQ(main->Bt_Up->font().family(), "ＭＳ ゴシック");
    EXPECT_EQ(main->font().family(), "ＭＳ Ｐゴシック");
    EXPECT_EQ(main->font().pixelSize(), 15);
    EXPECT_EQ(main->windowTitle(), "Sorowa");
}

TEST_F(MainWindow, MenuCaptionsSeparatorsAndRadioGroup) {
    // Each caption with its shortcut keys, if any, in brackets.
    auto captions = [](QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            QString text = action->isSeparator() ? QStringLiteral("-") : action->text();
            QStringList keys;
            for (const QKeySequence& key : action->shortcuts())
                keys << key.toString();
            if (!keys.isEmpty()) text += " [" + keys.join(", ") + "]";
            texts << text;
        }
        return texts;
    };
    EXPECT_EQ(main->M_File->title(), "ファイル(&F)");
    // Renumber and undo follow the rename command.
    EXPECT_EQ(captions(main->M_File),
              (QStringList{"フォルダ参照(&O)", "名前変更(&S)", "連番を振り直す(&N)", "元に戻す(&U)",
                           "フォルダを閉じる(&C)", "-", "終了(&X)"}));
    EXPECT_EQ(main->M_Run->title(), "実行(&R)");
    // The first three are the original commands; arranging by hand adds the rest.
    EXPECT_EQ(captions(main->M_Run),
              (QStringList{"上移動(&U)", "下移動(&D)", "選択画像を開く(&O)", "-",
                           "先頭へ移動(&T) [Ctrl+Home]", "末尾へ移動(&E) [Ctrl+End]",
                           "位置を指定して移動(&M)...", "並びを逆にする(&V)", "-",
                           "すべて選択(&A) [Ctrl+A]", "並べ替えを元に戻す(&Z) [Ctrl+Z]",
                           "並べ替えをやり直す(&Y) [Ctrl+Y, Ctrl+Shift+Z]"}));
    EXPECT_EQ(main->M_View->title(), "表示(&V)");
    EXPECT_EQ(captions(main->M_View), (QStringList{"サムネイルのサイズ(&S)", "オプション(&O)"}));
    EXPECT_EQ(captions(main->MV_Size), (QStringList{"80 x 80", "100 x 100", "120 x 120",
                                                    "150 x 150", "ユーザー指定（160 x 120）"}));
    EXPECT_EQ(main->M_Help->title(), "ヘルプ(&H)");
    EXPECT_EQ(captions(main->M_Help),
              (QStringList{"目次(&C)", "トピックの検索(&H)", "-", "バージョン情報(&A)"}));
    EXPECT_TRUE(main->MVS_100->isChecked());
    main->MVS_150->setChecked(true);
    EXPECT_FALSE(main->MVS_100->isChecked());
    EXPECT_TRUE(main->MVS_Group->isExclusive());
}

TEST_F(MainWindow, PageKeysDoNothingWithoutAFolder) {
    // Enable the buttons to see whether a click would happen: key preview is off, so none does.
    main->Bt_Up->setEnabled(true);
    main->Bt_Down->setEnabled(true);
    QSignalSpy up(main->Bt_Up, &QPushButton::clicked);
    QSignalSpy down(main->Bt_Down, &QPushButton::clicked);
    main->Bt_Open->setFocus();
    QTest::keyClick(main->Bt_Open, Qt::Key_PageUp);
    QTest::keyClick(main->Bt_Open, Qt::Key_PageDown);
    EXPECT_EQ(up.count(), 0);
    EXPECT_EQ(down.count(), 0);
}

TEST_F(MainWindow, ExitClosesTheMainWindow) {
    main->MF_Exit->trigger();
    EXPECT_FALSE(main->isVisible());
}

TEST(StartUp, PictureClassesRegisterAndUnregisterThemselves) {
    RegisterPictureClasses();
    EXPECT_EQ(FindPictureClass("jpg"), &TJPEGImage::Class);
    EXPECT_EQ(FindPictureClass("JPEG"), &TJPEGImage::Class);
    EXPECT_EQ(FindPictureClass("gif"), &TGIFImage::Class);
    EXPECT_EQ(FindPictureClass("bmp"), &TBitmap::Class);
    const auto formats = PictureFormats();
    ASSERT_GE(formats.size(), 4u);
    EXPECT_EQ(formats[formats.size() - 3].extension, "jpeg");
    EXPECT_EQ(formats[formats.size() - 2].extension, "jpg");
    EXPECT_EQ(formats[formats.size() - 1].extension, "gif");
    EXPECT_EQ(formats.back().description, "GIF Image");
    UnregisterPictureClasses();
    EXPECT_EQ(FindPictureClass("jpg"), nullptr);
    EXPECT_EQ(FindPictureClass("gif"), nullptr);
    EXPECT_EQ(FindPictureClass("bmp"), &TBitmap::Class);
}
