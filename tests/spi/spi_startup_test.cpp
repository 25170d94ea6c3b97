// The real program start with decoder plug-ins in the searched folders.
#include "app/main_window_fixture.h"
#include "picture/picture.h"
#include "plugin_files.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"

#include <QSettings>

namespace sorowa::test {
namespace {

class StartupWithPlugins : public MainWindowFixture {
protected:
    void BeforeStart() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.Path());
        platform::SetWindowsDirectory(windows.Path());
        platform::SetSystemDirectory(system.Path());
        CopyPlugin(QStringLiteral("ifppm"), pluginFolder().Path());
        before = PictureFormats().size();
        RegisterPictureClasses();
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        UnregisterPictureClasses();
        platform::SetWindowsDirectory(QStringLiteral("/usr/local/lib/sorowa"));
        platform::SetSystemDirectory(QStringLiteral("/usr/lib/sorowa"));
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

} // namespace
} // namespace sorowa::test
