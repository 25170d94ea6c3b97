#include "platform/directories.h"
#include "platform/errors.h"
#include "platform/file_names.h"
#include "support/temp_folder.h"
#include "workspace/folder_listing.h"

#include <QDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace sorowa;

namespace {
class Listing : public ::testing::Test {
protected:
    void SetUp() override { previous_ = platform::CurrentDirectory(); }
    void TearDown() override { platform::SetCurrentDirectory(previous_); }
    test::TempFolder folder;
    TFileList list;

private:
    QString previous_;
};
} // namespace

TEST(Wildcard, StarQuestionMarkAndCase) {
    EXPECT_TRUE(MatchesWildcard("*.jpg", "a.JPG"));
    EXPECT_TRUE(MatchesWildcard("*.jpg", ".jpg"));
    EXPECT_TRUE(MatchesWildcard("*.jpg", "a.b.jpg"));
    EXPECT_FALSE(MatchesWildcard("*.jpg", "a.jpeg"));
    EXPECT_FALSE(MatchesWildcard("*.jpg", "a.jpg.txt"));
    EXPECT_TRUE(MatchesWildcard("?.gif", "x.GIF"));
    EXPECT_FALSE(MatchesWildcard("?.gif", "xy.gif"));
    EXPECT_TRUE(MatchesWildcard("*", ""));
    EXPECT_TRUE(MatchesWildcard("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(MatchesWildcard("*a*b", "xxaxxbxx"));
    EXPECT_TRUE(MatchesWildcard("*.ÄBC", "x.äbc"));
}

TEST_F(Listing, SortedByNameIgnoringCaseWhateverThePatternOrder) {
    for (const char* name : {"b.jpg", "A.bmp", "c.GIF", "notes.txt", "d.jpeg"})
        folder.Write(name, "");
    list.SetMask("*.gif;*.jpg;*.bmp");
    list.SetDirectory(folder.Path());
    EXPECT_EQ(list.Items(), (QStringList{"A.bmp", "b.jpg", "c.GIF"}));
    EXPECT_EQ(QDir(platform::CurrentDirectory()), QDir(folder.Path()));
    EXPECT_EQ(list.Directory(), folder.Path());
}

TEST_F(Listing, SubFoldersAndHiddenFilesAreNotListed) {
    ASSERT_TRUE(QDir(folder.Path()).mkdir("x.jpg"));
    folder.Write(".hidden.jpg", "");
    folder.Write("shown.jpg", "");
    list.SetMask("*.jpg");
    list.SetDirectory(folder.Path());
    EXPECT_EQ(list.Items(), QStringList{"shown.jpg"});
}

TEST_F(Listing, NamesThatAreNotUtf8AreListed) {
    const std::string raw = platform::EncodeFileName(folder.Path()) + "/\xe9t\xe9.bmp";
    const int fd = open(raw.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    list.SetMask("*.bmp");
    list.SetDirectory(folder.Path());
    ASSERT_EQ(list.Items().size(), 1);
    EXPECT_EQ(platform::EncodeFileName(folder.Path() + "/" + list.Items()[0]), raw);
}

TEST_F(Listing, ReopeningListsAfreshAndAVanishedFolderIsAnError) {
    folder.Write("1.bmp", "");
    list.SetMask("*.bmp");
    list.SetDirectory(folder.Path());
    EXPECT_EQ(list.Items().size(), 1);
    folder.Write("2.bmp", "");
    list.SetDirectory(folder.Path());
    EXPECT_EQ(list.Items().size(), 2);
    EXPECT_THROW(list.SetDirectory(folder.File("gone")), EInOutError);
}
