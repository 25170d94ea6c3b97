#include "main_window_fixture.h"
#include "workspace/thumbnail_size.h"

#include <QAction>
#include <QActionGroup>

using namespace sorowa;

namespace {

class StoredSettings : public test::MainWindowFixture {
protected:
    void BeforeStart() override {
        if (!ini.isEmpty()) programFolder.Write("sorowa.INI", ini);
    }
    QByteArray ini;
};

class PlacementAndSize : public StoredSettings {
protected:
    void SetUp() override {
        ini = "[Default]\nDir=/srv/photos\nPosition=0x1\nLeft=20\nTop=40\nWidth=600\n"
              "Height=500\n[thumbnail]\nNumber=150\n";
        keepWindowSizeAtStart = false;
        StoredSettings::SetUp();
    }
};

class UserSize : public StoredSettings {
protected:
    void SetUp() override {
        ini = "[thumbnail]\nNumber=999\nSize_W=0xC8\nSize_H=$96\n";
        StoredSettings::SetUp();
    }
};

class NoSettingsFile : public StoredSettings {};

class UnwritableSettings : public StoredSettings {
protected:
    void SetUp() override { StoredSettings::SetUp(); }
    void BeforeStart() override {
        // The program file's folder does not exist, and the user's configuration folder
        // cannot be made (a file stands in its way), so the settings file cannot be written.
        places.programFile = programFolder.File("missing/sorowa");
        qputenv("XDG_CONFIG_HOME", programFolder.Write("config", "").toUtf8());
    }
};

} // namespace

TEST_F(PlacementAndSize, StartupAppliesTheStoredPlacementFolderAndSize) {
    EXPECT_EQ(main->frameGeometry(), QRect(20, 40, 600, 500));
    EXPECT_EQ(DefaultFolder(), "/srv/photos");
    EXPECT_EQ(ThumbnailSize(), QSize(150, 150));
    EXPECT_TRUE(main->MVS_150->isChecked());
    EXPECT_TRUE(messages.Messages().isEmpty());
    // Closing writes the placement back; the size command wrote nothing.
    main->move(70, 80);
    main->close();
    const QString stored = test::ReadFileBytes(SettingsFile());
    EXPECT_TRUE(stored.contains("Left=70\n")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("Top=80\n"));
    EXPECT_TRUE(stored.contains("Width=600\n"));
    EXPECT_TRUE(stored.contains("Number=150\n"));
    EXPECT_TRUE(stored.contains("Position=0x1\n"));
}

TEST_F(UserSize, TheUserSizeIsReadAndShownInTheMenu) {
    EXPECT_EQ(ThumbnailSize(), QSize(200, 150));
    EXPECT_TRUE(main->MVS_User->isChecked());
    EXPECT_EQ(main->MVS_User->text(), "ユーザー指定（200 x 150）");
    // Chosen again after the file changed, the new size is read.
    programFolder.Write("sorowa.INI", "[thumbnail]\nNumber=999\n");
    main->MVS_User->trigger();
    EXPECT_EQ(ThumbnailSize(), QSize(160, 120));
    EXPECT_EQ(main->MVS_User->text(), "ユーザー指定（160 x 120）");
}

TEST_F(NoSettingsFile, FirstStartWritesTheFolderAndTheSizeChoice) {
    EXPECT_EQ(ThumbnailSize(), QSize(100, 100));
    EXPECT_EQ(DefaultFolder(), platform::CurrentDirectory());
    EXPECT_EQ(test::ReadFileBytes(SettingsFile()),
              "[Default]\nDir=" + platform::CurrentDirectory().toUtf8() +
                  "\n[thumbnail]\nNumber=100\n");
    main->close();
    const QString stored = test::ReadFileBytes(SettingsFile());
    EXPECT_TRUE(stored.contains("Left=")) << "placement written although Position is off";
    EXPECT_FALSE(stored.contains("Position="));
}

TEST_F(NoSettingsFile, SizeCommandReLaysOutWithTheNewSteps) {
    test::TempFolder folder;
    for (int i = 0; i < 10; ++i)
        folder.Write(QString("%1.bmp").arg(i), test::MakeBmp(3, 3));
    ResizeOuter(800); // L = 800 - 150 - 41 = 609: four per row at 158
    Open(folder.Path());
    main->MVS_150->trigger();
    EXPECT_TRUE(main->MVS_150->isChecked());
    EXPECT_FALSE(main->MVS_100->isChecked());
    for (int n = 1; n <= 10; ++n) {
        EXPECT_EQ(Window(n)->ClientSize(), QSize(150, 150));
        EXPECT_EQ(Window(n)->pos(), QPoint(158 * ((n - 1) % 4), 181 * ((n - 1) / 4))) << n;
    }
    // The checked item chosen again re-lays out again.
    Window(1)->move(5, 5);
    main->MVS_150->trigger();
    EXPECT_EQ(Window(1)->pos(), QPoint(0, 0));
    EXPECT_FALSE(test::ReadFileBytes(SettingsFile()).contains("Number=150"));
}

TEST_F(NoSettingsFile, OneThumbnailKeepsItsSizeWhenTheSizeChanges) {
    test::TempFolder folder;
    folder.Write("one.bmp", test::MakeBmp(3, 3));
    Open(folder.Path());
    main->MVS_80->trigger();
    EXPECT_EQ(ThumbnailSize(), QSize(80, 80));
    EXPECT_EQ(Windows()[0]->ClientSize(), QSize(100, 100));
}

TEST_F(UnwritableSettings, AFailedWriteAtStartupIsShownAndStopsTheSteps) {
    ASSERT_EQ(messages.Messages().size(), 1);
    EXPECT_EQ(messages.Messages()[0].text,
              programFolder.File("config/sorowa/sorowa.INI") + " に書き込めません.");
    EXPECT_EQ(messages.Messages()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(ThumbnailSize(), QSize(100, 100));
    EXPECT_TRUE(main->MVS_100->isChecked());
    // Closing shows the error too, and the window still closes.
    main->close();
    EXPECT_EQ(messages.Messages().size(), 2);
    EXPECT_FALSE(main->isVisible());
}

TEST_F(NoSettingsFile, AMaximisedWindowStoresItsEdges) {
    main->showMaximized();
    ASSERT_TRUE(test::WaitFor([&] { return main->isMaximized(); }));
    const QRect edges = main->frameGeometry();
    main->close();
    const QString stored = test::ReadFileBytes(SettingsFile());
    EXPECT_TRUE(stored.contains(QString("Width=%1\n").arg(edges.width()))) << stored.toStdString();
    EXPECT_TRUE(stored.contains(QString("Height=%1\n").arg(edges.height())));
}

TEST_F(NoSettingsFile, AMinimisedWindowStoresWhereItWillComeBack) {
    main->move(33, 44);
    const QRect normal = main->frameGeometry();
    main->showMinimized();
    main->close();
    const QString stored = test::ReadFileBytes(SettingsFile());
    EXPECT_TRUE(stored.contains(QString("Left=%1\n").arg(normal.left()))) << stored.toStdString();
    EXPECT_TRUE(stored.contains(QString("Top=%1\n").arg(normal.top())));
    EXPECT_TRUE(stored.contains(QString("Width=%1\n").arg(normal.width())));
}

TEST_F(NoSettingsFile, ASmallerSizeGivesBackTheScrollSpace) {
    test::TempFolder folder;
    for (int i = 0; i < 12; ++i)
        folder.Write(QString("%1.bmp").arg(i), test::MakeBmp(3, 3));
    Open(folder.Path());
    main->MVS_150->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return main->MdiFrame()->widget()->height() > 181 * 4; }));
    main->MVS_80->trigger();
    EXPECT_TRUE(test::WaitFor([&] {
        return main->MdiFrame()->widget()->height() == Window(12)->geometry().bottom() + 1;
    }));
}
