#include "app/folder_mask.h"
#include "app/startup.h"
#include "platform/directories.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"
#include "workspace/folder_listing.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace sorowa;

namespace {

// Points the current, Windows and system directories at three fresh folders.
class PluginFolders : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::CurrentDirectory();
        platform::SetCurrentDirectory(current.Path());
        places.windowsDirectory = windows.Path();
        places.systemDirectory = system.Path();
    }
    void TearDown() override { platform::SetCurrentDirectory(previous_); }
    QString SearchPath() const { return PluginSearchPath(places); }
    test::TempFolder current, windows, system;
    platform::ProgramPlaces places;

private:
    QString previous_;
};

} // namespace

TEST_F(PluginFolders, MaskWithoutPluginsIsTheBaseMask) {
    EXPECT_EQ(BuildFolderMask(SearchPath()), "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif");
}

TEST_F(PluginFolders, PluginsFromAllThreeFoldersAddTheirPatternsInTableOrder) {
    system.Write("ifpng.spi", "");
    windows.Write("ifpi.spi", "");
    current.Write("iftiff.spi", "");
    current.Write("ifpic2.spi", "");
    EXPECT_EQ(BuildFolderMask(SearchPath()),
              "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif;*.pi;*.pic2;*.tif;*.png");
}

TEST_F(PluginFolders, AllSevenPlugins) {
    for (const char* name : {"ifpi.spi", "ifmag.spi", "ifxld4.spi", "ifpic.spi", "ifpic2.spi",
                             "iftiff.spi", "ifpng.spi"})
        windows.Write(name, "");
    EXPECT_EQ(BuildFolderMask(SearchPath()),
              "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif;*.pi;*.mag;*.q4;*.pic;*.pic2;*.tif;*.png");
}

TEST_F(PluginFolders, AFolderNamedLikeAPluginDoesNotCount) {
    ASSERT_TRUE(QDir(current.Path()).mkdir("ifpng.spi"));
    EXPECT_EQ(BuildFolderMask(SearchPath()), "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif");
}

TEST_F(PluginFolders, SearchOrderAndOddPathLists) {
    windows.Write("ifmag.spi", "");
    system.Write("ifmag.spi", "");
    const QString w = windows.Path(), s = system.Path();
    EXPECT_EQ(FileSearch("ifmag.spi", w + ";" + s), w + "/ifmag.spi");
    EXPECT_EQ(FileSearch("ifmag.spi", ";;;" + s + ";;" + w + ";"), s + "/ifmag.spi");
    EXPECT_EQ(FileSearch("ifmag.spi", w + "/;"), w + "/ifmag.spi"); // no second "/"
    EXPECT_EQ(FileSearch("ifmag.spi", ";;;;"), "");
    EXPECT_EQ(FileSearch("ifmag.spi", ""), "");
    EXPECT_EQ(FileSearch("ifpi.spi", w + ";" + s), "");
    // The current directory is looked at first, by the bare name.
    current.Write("ifmag.spi", "");
    EXPECT_EQ(FileSearch("ifmag.spi", w), "ifmag.spi");
}

TEST_F(PluginFolders, SearchPathIsCurrentWindowsSystem) {
    EXPECT_EQ(SearchPath(),
              QDir(current.Path()).canonicalPath() + ";" + windows.Path() + ";" + system.Path());
}

namespace {

// The built-in readers registered as at start-up, and a plug-in set over the real plug-ins
// the build makes, copied into one folder.
class LoadedPlugins : public PluginFolders {
protected:
    void SetUp() override {
        PluginFolders::SetUp();
        RegisterPictureClasses();
    }
    void TearDown() override {
        UnregisterPictureClasses();
        PluginFolders::TearDown();
    }
    void Load(const QStringList& plugins, const QString& folder) {
        for (const QString& name : plugins)
            ASSERT_TRUE(
                QFile::copy(QStringLiteral(SOROWA_BUILT_PLUGINS "/") + name, folder + u'/' + name));
        set = std::make_unique<TSPIs>();
        set->Search(folder + QStringLiteral("/*.spi"));
        ASSERT_EQ(set->Count(), plugins.size());
    }
    std::unique_ptr<TSPIs> set;
    test::TempFolder susie; // a folder of none of the seven plug-in file names' places
};

} // namespace

TEST_F(LoadedPlugins, MaskListsEveryRegisteredExtensionOnce) {
    // The base mask and the seven file names' patterns come first, in their order; then the
    // registry's other extensions, in the order the plug-ins were found in their folder.
    const QString base = "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif";
    struct Case {
        QStringList plugins;
        bool inWindowsFolder; // else in a folder the seven names are not looked for in
        QString first;
        QStringList then; // in any order
    };
    const std::vector<Case> cases{
        {{}, true, base, {"*.jpeg"}},
        {{"ifpng.spi"}, true, base + ";*.png", {"*.jpeg"}},
        {{"ifpng.spi"}, false, base, {"*.jpeg", "*.png"}},
        {{"iftiff.spi"}, true, base + ";*.tif", {"*.jpeg", "*.tiff"}},
        {{"iftiff.spi"}, false, base, {"*.jpeg", "*.tif", "*.tiff"}},
        {{"ifheif.spi"}, true, base, {"*.jpeg", "*.heic", "*.heif", "*.avif"}},
        {{"ifwebp.spi"}, true, base, {"*.jpeg", "*.webp"}},
        {{"ifjxl.spi"}, true, base, {"*.jpeg", "*.jxl"}},
        {{"ifheif.spi", "ifjxl.spi", "ifpng.spi", "iftiff.spi", "ifwebp.spi"},
         true,
         base + ";*.tif;*.png",
         {"*.jpeg", "*.heic", "*.heif", "*.avif", "*.jxl", "*.tiff", "*.webp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugins.join(u' ').toStdString() + (c.inWindowsFolder ? "" : " elsewhere"));
        test::TempFolder folder;
        Load(c.plugins, c.inWindowsFolder ? windows.Path() : folder.Path());
        const QString mask = BuildFolderMask(SearchPath());
        const QStringList first = c.first.split(u';');
        QStringList patterns = mask.split(u';');
        EXPECT_EQ(patterns.mid(0, first.size()), first) << mask.toStdString();
        patterns = patterns.mid(first.size());
        QStringList then = c.then;
        patterns.sort();
        then.sort();
        EXPECT_EQ(patterns, then) << mask.toStdString();
        // A set's registrations outlive it, as in the program until it ends.
        set.reset();
        UnregisterSPIBitmap();
        RegisterSPIBitmap();
        for (const QString& name : c.plugins)
            QFile::remove(windows.File(name));
    }
}

TEST_F(LoadedPlugins, TheListingTakesTheNewExtensionsInAnyLetterCase) {
    Load({"ifheif.spi", "iftiff.spi"}, windows.Path());
    test::TempFolder pictures;
    for (const char* name : {"a.JPEG", "b.tiff", "c.HEIC", "d.avif", "e.txt", "f.Tif", "g.webp"})
        pictures.Write(name, "");
    TFileList list;
    list.SetMask(BuildFolderMask(SearchPath()));
    list.SetDirectory(pictures.Path());
    EXPECT_EQ(list.Items(), (QStringList{"a.JPEG", "b.tiff", "c.HEIC", "d.avif", "f.Tif"}));
}
