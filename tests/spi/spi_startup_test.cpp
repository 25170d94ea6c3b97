// The real program start with decoder plug-ins in the searched folders.
#include "app/folder_mask.h"
#include "app/main_window_fixture.h"
#include "picture/picture.h"
#include "plugin_files.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"

#include <QSettings>
#include <cstdio>
#include <cstring>

namespace sorowa::test {
namespace {

class StartupWithPlugins : public MainWindowFixture {
protected:
    void BeforeStart() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.Path());
        places.windowsDirectory = windows.Path();
        places.systemDirectory = system.Path();
        CopyPlugin(QStringLiteral("ifppm"), pluginFolder().Path());
        before = PictureFormats().size();
        RegisterPictureClasses();
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        UnregisterPictureClasses();
    }
    virtual const TempFolder& pluginFolder() const { return programFolder; }

    TempFolder settings, windows, system;
    std::size_t before = 0;
};

TEST_F(StartupWithPlugins, ThePluginsPatternsAreRegisteredBeforeTheFirstShow) {
    ASSERT_NE(main->SPIs1, nullptr);
    EXPECT_EQ(TSPIs::Instance(), main->SPIs1.get());
    ASSERT_EQ(main->SPIs1->Count(), 1);
    EXPECT_EQ(main->SPIs1->Items(0).FileName(), programFolder.File(QStringLiteral("ifppm.spi")));
    EXPECT_EQ(FindPictureClass(QStringLiteral("ppm")), &TSPIBitmap::Class);
    EXPECT_EQ(FindPictureClass(QStringLiteral("PGM")), &TSPIBitmap::Class);
}

class StartupWithPluginInSystemFolder : public StartupWithPlugins {
    const TempFolder& pluginFolder() const override { return system; }
};

TEST_F(StartupWithPluginInSystemFolder, IsFoundThereToo) {
    ASSERT_EQ(main->SPIs1->Count(), 1);
    EXPECT_EQ(FindPictureClass(QStringLiteral("ppm")), &TSPIBitmap::Class);
}

class StartupWithJunk : public StartupWithPlugins {
    const TempFolder& pluginFolder() const override { return windows; }
    void BeforeStart() override {
        StartupWithPlugins::BeforeStart();
        QFile::remove(windows.File(QStringLiteral("ifppm.spi")));
        programFolder.Write(QStringLiteral("ifpng.spi"), "not a plug-in");
        windows.Write(QStringLiteral("iftiff.spi"), QByteArray(5000, '\x7f'));
        system.Write(QStringLiteral("x.spi"), "\x7f"
                                              "ELF");
    }
};

TEST_F(StartupWithJunk, NonPluginsChangeNothing) {
    EXPECT_EQ(main->SPIs1->Count(), 0);
    for (const TFileFormat& format : PictureFormats())
        EXPECT_NE(format.graphicClass, &TSPIBitmap::Class) << format.extension.toStdString();
}

TEST_F(StartupWithPlugins, TheFolderListingTakesTheLoadedPluginsPatterns) {
    // ifppm.spi, beside the program, is none of the seven plug-in file names.
    const QStringList mask = main->FileListBox1().Mask().split(u';');
    EXPECT_TRUE(mask.contains(QStringLiteral("*.ppm")));
    EXPECT_TRUE(mask.contains(QStringLiteral("*.pgm")));
    EXPECT_FALSE(main->PluginFileMask().contains(QStringLiteral("ppm")));
}

TEST(FolderMask, PatternsThatMatchMoreThanOneExtensionAreNotListed) {
    // A plug-in claiming "*.*" or "*" registers "*": listed, it would take every file.
    RegisterSPIBitmap();
    SetInfoScript([](std::int32_t index, char* buffer, std::int32_t length) -> std::int32_t {
        const char* texts[] = {"00IN", "wide", "*.*;*.xyz;*;*.a?c", "everything"};
        if (index < 0 || index > 3) return 0;
        std::snprintf(buffer, static_cast<std::size_t>(length), "%s", texts[index]);
        return static_cast<std::int32_t>(std::strlen(buffer));
    });
    {
        TempFolder folder;
        CopyPlugin(QStringLiteral("tpscripted"), folder.Path());
        TSPIs set;
        set.Search(folder.Path() + QStringLiteral("/*.spi"));
        ASSERT_EQ(set.Count(), 1);
        const QStringList mask = FolderMaskFrom(QString::fromLatin1(kBaseFolderMask)).split(u';');
        EXPECT_TRUE(mask.contains(QStringLiteral("*.xyz")));
        EXPECT_FALSE(mask.contains(QStringLiteral("*.*")));
        EXPECT_FALSE(mask.contains(QStringLiteral("*.a?c")));
    }
    SetInfoScript({});
    UnregisterSPIBitmap();
}

} // namespace
} // namespace sorowa::test
