#include "app/folder_mask.h"
#include "platform/directories.h"
#include "support/temp_folder.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

// Points the current, Windows and system directories at three fresh folders.
class PluginFolders : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::CurrentDirectory();
        platform::SetCurrentDirectory(current.Path());
        platform::SetWindowsDirectory(windows.Path());
        platform::SetSystemDirectory(system.Path());
    }
    void TearDown() override {
        platform::SetCurrentDirectory(previous_);
        platform::SetWindowsDirectory("/usr/local/lib/sorowa");
        platform::SetSystemDirectory("/usr/lib/sorowa");
    }
    test::TempFolder current, windows, system;

private:
    QString previous_;
};

} // namespace

TEST_F(PluginFolders, MaskWithoutPluginsIsTheBaseMask) {
    EXPECT_EQ(BuildFolderMask(PluginSearchPath()), "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif");
}

TEST_F(PluginFolders, PluginsFromAllThreeFoldersAddTheirPatternsInTableOrder) {
    system.Write("ifpng.spi", "");
    windows.Write("ifpi.spi", "");
    current.Write("iftiff.spi", "");
    current.Write("ifpic2.spi", "");
    EXPECT_EQ(BuildFolderMask(PluginSearchPath()),
              "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif;*.pi;*.pic2;*.tif;*.png");
}

TEST_F(PluginFolders, AllSevenPlugins) {
    for (const char* name : {"ifpi.spi", "ifmag.spi", "ifxld4.spi", "ifpic.spi", "ifpic2.spi",
                             "iftiff.spi", "ifpng.spi"})
        windows.Write(name, "");
    EXPECT_EQ(BuildFolderMask(PluginSearchPath()),
              "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif;*.pi;*.mag;*.q4;*.pic;*.pic2;*.tif;*.png");
}

TEST_F(PluginFolders, AFolderNamedLikeAPluginDoesNotCount) {
    ASSERT_TRUE(QDir(current.Path()).mkdir("ifpng.spi"));
    EXPECT_EQ(BuildFolderMask(PluginSearchPath()), "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif");
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
    EXPECT_EQ(PluginSearchPath(),
              QDir(current.Path()).canonicalPath() + ";" + windows.Path() + ";" + system.Path());
}
