// The options, help, About, open and exit commands of the main window, and settings that
// keep working where the program's own folder cannot be written.
#include "main_window_fixture.h"
#include "platform/ui/help_viewer.h"
#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"
#include "settings/about_box.h"
#include "settings/option_dialog.h"
#include "support/opened_files.h"
#include "support/unwritable_file.h"
#include "workspace/thumbnail_size.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <climits>

using namespace sorowa;

namespace {

class Commands : public test::MainWindowFixture {
protected:
    // Runs the options command; act drives the dialog while it is up.
    void RunOptions(std::function<void(TForm_Option*)> act) {
        QTimer::singleShot(0, main, [this, act] {
            ASSERT_TRUE(main->Form_Option->isVisible());
            act(main->Form_Option);
            if (main->Form_Option->isVisible()) main->Form_Option->Bt_Cancel->click();
        });
        main->MV_Option->trigger();
    }
    platform::THelpViewer* Viewer() const { return main->findChild<platform::THelpViewer*>(); }
    test::TempFolder folder;
};

class HandEditedExtremes : public test::MainWindowFixture {
protected:
    void SetUp() override {
        keepWindowSizeAtStart = false;
        MainWindowFixture::SetUp();
    }
    void BeforeStart() override {
        programFolder.Write("sorowa.INI",
                            "[Default]\nPosition=1\nLeft=-2147483648\nTop=2147483647\n"
                            "Width=2147483647\nHeight=-5\n"
                            "[thumbnail]\nNumber=999\nSize_W=2147483647\nSize_H=-2147483648\n");
    }
};

class ReadOnlyProgramFolder : public test::MainWindowFixture {
protected:
    void BeforeStart() override { immutableSet = readOnly.Set(); }
    test::ImmutableFile readOnly{programFolder.Path()};
    bool immutableSet = false;
};

} // namespace

TEST_F(Commands, OptionsOkAppliesFolderAndUserSizeAtOnce) {
    for (int i = 0; i < 3; ++i)
        folder.Write(QString("%1.bmp").arg(i), test::MakeBmp(3, 3));
    Open(folder.Path());
    RunOptions([&](TForm_Option* dialog) {
        dialog->Ed_Fol->setText(folder.Path());
        QTest::mouseClick(dialog->RdBt_SizeUser, Qt::LeftButton);
        dialog->SpEd_SizeWidth->SetValue(200);
        dialog->SpEd_SizeHeight->SetValue(150);
        QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton);
    });
    EXPECT_EQ(DefaultFolder(), folder.Path());
    EXPECT_TRUE(main->MVS_User->isChecked());
    EXPECT_EQ(main->MVS_User->text(), "ユーザー指定（200 x 150）");
    EXPECT_EQ(ThumbnailSize(), QSize(200, 150));
    EXPECT_EQ(Window(2)->ClientSize(), QSize(200, 150)); // re-laid out at once
    EXPECT_TRUE(main->Bt_Up->isEnabled());               // the folder-open state is kept
    // A preset, then Cancel after the file changed meanwhile: nothing changes.
    programFolder.Write("sorowa.INI", "[Default]\nDir=/elsewhere\n[thumbnail]\nNumber=80\n");
    RunOptions([](TForm_Option* dialog) { QTest::mouseClick(dialog->Bt_Cancel, Qt::LeftButton); });
    EXPECT_EQ(DefaultFolder(), folder.Path());
    EXPECT_EQ(ThumbnailSize(), QSize(200, 150));
    // OK now takes the file's values; a relative folder counts from the settings file's.
    programFolder.Write("sorowa.INI", "[Default]\nDir=photos\n[thumbnail]\nNumber=120\n");
    RunOptions([](TForm_Option* dialog) { QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton); });
    EXPECT_EQ(DefaultFolder(), programFolder.File("photos"));
    EXPECT_EQ(ThumbnailSize(), QSize(120, 120));
    EXPECT_TRUE(main->MVS_120->isChecked());
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(Commands, OptionsShowThePluginsTheMaskFound) {
    // No plug-in files here: all seven labels greyed, whatever the dialog's state.
    RunOptions([](TForm_Option* dialog) {
        for (QLabel* label : {dialog->Lb_Pi, dialog->Lb_Png, dialog->Lb_Pic})
            EXPECT_FALSE(label->isEnabled());
        EXPECT_FALSE(dialog->Lb_Jpg->isVisible());
    });
    // A pattern the folder listing takes from a loaded plug-in is not a plug-in file found.
    main->FileListBox1().SetMask(main->FileListBox1().Mask() + ";*.png");
    RunOptions([](TForm_Option* dialog) { EXPECT_FALSE(dialog->Lb_Png->isEnabled()); });
}

namespace {
// Started with an (empty) ifpng.spi in the Windows directory.
class CommandsWithPluginFile : public Commands {
protected:
    void BeforeStart() override {
        windows.Write("ifpng.spi", "");
        places.windowsDirectory = windows.Path();
    }
    test::TempFolder windows;
};

// Started as a program file of another name.
class CommandsOfPhotoExe : public Commands {
protected:
    void BeforeStart() override { places.programFile = programFolder.File("PHOTO.EXE"); }
};
} // namespace

TEST_F(CommandsWithPluginFile, OptionsShowThePluginFilesFound) {
    RunOptions([](TForm_Option* dialog) {
        EXPECT_TRUE(dialog->Lb_Png->isEnabled());
        EXPECT_FALSE(dialog->Lb_Pi->isEnabled());
    });
}

TEST_F(Commands, HelpOpensTheProgramsOwnHelpFileInTheViewer) {
    programFolder.Write("sorowa.HLP",
                        "<h1><a name=\"top\"></a>ヘルプ</h1><h2><a name=\"r\"></a>名前変更</h2>"
                        "<ul class=\"index\"><li><a href=\"#r\">名前変更</a></li></ul>");
    main->MH_Help->trigger();
    ASSERT_NE(Viewer(), nullptr);
    EXPECT_TRUE(Viewer()->isVisible());
    EXPECT_EQ(platform::ApplicationHelpFile(), programFolder.File("sorowa.HLP"));
    EXPECT_EQ(Viewer()->File(), programFolder.File("sorowa.HLP"));
    EXPECT_EQ(Viewer()->Tabs()->currentIndex(), 0);
    EXPECT_EQ(Viewer()->Document().topics.size(), 2);
    main->MH_Key->trigger();
    EXPECT_EQ(Viewer()->Tabs()->currentIndex(), 1);
    EXPECT_EQ(main->findChildren<platform::THelpViewer*>().size(), 1); // one help window
    Viewer()->close();
}

TEST_F(CommandsOfPhotoExe, HelpLooksForTheProgramFilesOwnHelpFile) {
    // Not sorowa.HLP, though it is there; a missing one is reported by the viewer, not by a
    // message of the program.
    programFolder.Write("sorowa.HLP", "<h1>ヘルプ</h1>");
    main->MH_Help->trigger();
    ASSERT_NE(Viewer(), nullptr);
    EXPECT_EQ(platform::ApplicationHelpFile(), programFolder.File("PHOTO.HLP"));
    EXPECT_EQ(Viewer()->File(), programFolder.File("PHOTO.HLP"));
    EXPECT_TRUE(Viewer()->Page()->toPlainText().contains("ヘルプファイルを開けません"));
    EXPECT_TRUE(messages.Messages().isEmpty());
    Viewer()->close();
}

TEST_F(Commands, AboutIsShownModallyAndExitCloses) {
    bool shown = false;
    QTimer::singleShot(0, main, [&] {
        shown =
            main->Form_About->isVisible() && QApplication::activeModalWidget() == main->Form_About;
        QTest::mouseClick(main->Form_About->Bt_OK, Qt::LeftButton);
    });
    main->MH_About->trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(main->Form_About->isVisible());
    main->MF_Exit->trigger();
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(test::ReadFileBytes(SettingsFile()).contains("Left="));
}

TEST_F(Commands, OpenAfterARenameOpensTheNewName) {
    folder.Write("b.bmp", test::MakeBmp(2, 2));
    folder.Write("a.bmp", test::MakeBmp(2, 2));
    Open(folder.Path());
    test::OpenedFiles opened;
    QTimer::singleShot(0, main, [this] {
        main->Form_Henkou->Ed_FName->setText("trip");
        QTest::mouseClick(main->Form_Henkou->Bt_OK, Qt::LeftButton);
    });
    main->Bt_Save->click();
    ASSERT_EQ(Captions(), (QStringList{"1;trip1.bmp", "2;trip2.bmp"}));
    main->MdiFrame()->SetActiveChild(Window(2));
    main->MR_Open->trigger();
    EXPECT_EQ(opened.Paths(), QStringList{folder.File("trip2.bmp")});
}

TEST_F(HandEditedExtremes, ExtremeSizesAreKeptInReach) {
    // Any overflow would stop the sanitizers here; the window and thumbnails stay usable.
    test::TempFolder pictures;
    for (int i = 0; i < 3; ++i)
        pictures.Write(QString("%1.bmp").arg(i), test::MakeBmp(3, 3));
    Open(pictures.Path());
    EXPECT_EQ(ThumbnailSize(), QSize(1024, 16));
    EXPECT_EQ(Window(3)->ClientSize(), QSize(1024, 16));
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    const QRect frame = main->frameGeometry();
    EXPECT_GE(frame.right(), desktop.left() + 99) << frame.x();
    EXPECT_LE(frame.top(), desktop.bottom() - 99) << frame.y();
    EXPECT_LE(frame.width(), desktop.width());
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(ReadOnlyProgramFolder, SettingsGoToTheUsersConfigFolder) {
    if (!immutableSet) GTEST_SKIP() << "no immutable attribute on this file system";
    EXPECT_TRUE(messages.Messages().isEmpty()) << messages.Texts().join("|").toStdString();
    const QString stored = configFolder.File("sorowa/sorowa.INI");
    EXPECT_TRUE(test::ReadFileBytes(stored).contains("Number=100\n"));
    EXPECT_FALSE(QFile::exists(SettingsFile()));
    main->MF_Exit->trigger();
    EXPECT_TRUE(test::ReadFileBytes(stored).contains("Left="));
    EXPECT_TRUE(messages.Messages().isEmpty());
}
