#include "platform/directories.h"
#include "platform/errors.h"
#include "platform/file_names.h"
#include "rename/batch_rename.h"
#include "support/temp_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace sorowa;

TEST(BatchRenameNames, PaddingIsNeverShortening) {
    EXPECT_EQ(PaddedNumber(8, 1), "8");
    EXPECT_EQ(PaddedNumber(10, 1), "10");
    EXPECT_EQ(PaddedNumber(7, 2), "07");
    EXPECT_EQ(PaddedNumber(100, 2), "100");
    EXPECT_EQ(PaddedNumber(1, 3), "001");
    EXPECT_EQ(PaddedNumber(42, 3), "042");
    EXPECT_EQ(PaddedNumber(0, 4), "0000");
    EXPECT_EQ(PaddedNumber(9000, 4), "9000");
    EXPECT_EQ(PaddedNumber(9999 + 1, 4), "10000");
}

TEST(BatchRenameNames, ExtensionAfterTheLastDotKeepsItsCase) {
    EXPECT_EQ(NewFileName("photo", "001", "b.JPG"), "photo001.JPG");
    EXPECT_EQ(NewFileName("photo", "003", "my.trip.jpeg"), "photo003.jpeg");
    EXPECT_EQ(NewFileName("", "001", "b.JPG"), "001.JPG");
    EXPECT_EQ(NewFileName("trip.day", "001", "b.JPG"), "trip.day001.JPG");
    EXPECT_EQ(NewFileName("x", "1", "a;b.gif"), "x1.gif");
}

namespace {

// A folder of files, each holding its own name as content, and the numbered list that gives
// the sequence.
class BatchRename : public ::testing::Test {
protected:
    void Sequence(const QStringList& names) {
        int n = 0;
        for (const QString& name : names) {
            if (!platform::FileExists(folder.File(name)))
                folder.Write(name, ("content of " + name).toUtf8());
            files.push_back({++n, name});
        }
        before = Contents();
    }
    // Every regular file of the folder: name -> checksum of its bytes.
    QMap<QString, QByteArray> Contents() const {
        QMap<QString, QByteArray> files;
        for (const QFileInfo& info : QDir(folder.Path()).entryInfoList(QDir::Files))
            files[info.fileName()] = QCryptographicHash::hash(test::ReadFileBytes(info.filePath()),
                                                              QCryptographicHash::Sha256);
        return files;
    }
    // True when every file that was there before still exists with the same bytes.
    bool NothingLost() const {
        QList<QByteArray> was = before.values(), is = Contents().values();
        std::sort(was.begin(), was.end());
        std::sort(is.begin(), is.end());
        return was == is;
    }
    // Renames and takes each new name into files as it is announced, as the windows do.
    QStringList Run(const QString& base, int digits, int start, QString folderText = {}) {
        QStringList failures;
        const TBatchRenameUi ui{[&](int file, const QString& name) { files[file].name = name; },
                                [&](const QString& text) { failures << text; }};
        const TBatchRenameResult result = RunBatchRename(
            {base, digits, start, folderText.isEmpty() ? folder.Path() : folderText}, files, ui);
        EXPECT_EQ(result.names, Names());
        return failures;
    }
    QStringList Names() const {
        QStringList names;
        for (const TNumberedName& file : files)
            names << file.name;
        return names;
    }
    // The list as "number;name", in list order.
    QStringList Captions() const {
        QStringList captions;
        for (const TNumberedName& file : files)
            captions << QString("%1;%2").arg(file.number).arg(file.name);
        return captions;
    }
    test::TempFolder folder;
    std::vector<TNumberedName> files;
    QMap<QString, QByteArray> before;
};

} // namespace

TEST_F(BatchRename, WorkedExample) {
    Sequence({"b.JPG", "a.gif", "my.trip.jpeg"});
    EXPECT_TRUE(Run("photo", 3, 1).isEmpty());
    EXPECT_EQ(Captions(), (QStringList{"1;photo001.JPG", "2;photo002.gif", "3;photo003.jpeg"}));
    EXPECT_EQ(Contents().keys(), (QStringList{"photo001.JPG", "photo002.gif", "photo003.jpeg"}));
    EXPECT_EQ(test::ReadFileBytes(folder.File("photo003.jpeg")), "content of my.trip.jpeg");
}

TEST_F(BatchRename, FollowsTheSequenceNotTheListOrder) {
    Sequence({"x.bmp", "y.bmp"});
    // Exchanged: the first of the list now carries number 2.
    files[0].number = 2;
    files[1].number = 1;
    EXPECT_TRUE(Run("", 2, 99).isEmpty());
    EXPECT_EQ(test::ReadFileBytes(folder.File("99.bmp")), "content of y.bmp");
    EXPECT_EQ(test::ReadFileBytes(folder.File("100.bmp")), "content of x.bmp");
}

TEST_F(BatchRename, DigitCountsAndStartNumbers) {
    Sequence({"a.bmp", "b.bmp", "c.bmp"});
    EXPECT_TRUE(Run("n", 1, 8).isEmpty());
    EXPECT_EQ(Contents().keys(), (QStringList{"n10.bmp", "n8.bmp", "n9.bmp"}));
    EXPECT_TRUE(Run("m", 4, 0).isEmpty());
    EXPECT_EQ(Contents().keys(), (QStringList{"m0000.bmp", "m0001.bmp", "m0002.bmp"}));
    EXPECT_TRUE(Run("k", 2, 9000).isEmpty());
    EXPECT_EQ(Contents().keys(), (QStringList{"k9000.bmp", "k9001.bmp", "k9002.bmp"}));
    EXPECT_TRUE(NothingLost());
}

TEST_F(BatchRename, ExchangedNumberedFilesCollideAndNothingIsLost) {
    Sequence({"photo2.jpg", "photo1.jpg"}); // shown in the other order
    const QStringList failures = Run("photo", 1, 1);
    // Position 1 wants photo1.jpg, which position 2 still holds; position 2 wants
    // photo2.jpg, which position 1 kept after its failure.
    EXPECT_EQ(failures, (QStringList{"ファイル名変更失敗！", "ファイル名変更失敗！"}));
    EXPECT_EQ(Captions(), (QStringList{"1;photo2.jpg", "2;photo1.jpg"}));
    EXPECT_TRUE(NothingLost());
    EXPECT_EQ(Contents(), before);
}

TEST_F(BatchRename, AShiftByOneFailsWhereTakenAndRenamesTheRest) {
    QStringList names;
    for (int i = 1; i <= 11; ++i)
        names << QString("photo%1.jpg").arg(i, 2, 10, QChar('0'));
    Sequence(names);
    const QStringList failures = Run("photo", 2, 2);
    // Positions 1..10 want the name of the next file; only the last one is free.
    EXPECT_EQ(failures.size(), 10);
    EXPECT_TRUE(NothingLost());
    EXPECT_EQ(Captions().last(), "11;photo12.jpg");
    EXPECT_EQ(test::ReadFileBytes(folder.File("photo12.jpg")), "content of photo11.jpg");
    EXPECT_FALSE(QFileInfo::exists(folder.File("photo11.jpg")));
}

TEST_F(BatchRename, UnrelatedFileOrSubFolderOfTheNewNameStays) {
    folder.Write("new1.bmp", "someone else's file");
    ASSERT_TRUE(QDir(folder.Path()).mkdir("new2.bmp"));
    Sequence({"a.bmp", "b.bmp", "c.bmp"});
    const QStringList failures = Run("new", 1, 1);
    EXPECT_EQ(failures.size(), 2);
    EXPECT_EQ(test::ReadFileBytes(folder.File("new1.bmp")), "someone else's file");
    EXPECT_TRUE(QFileInfo(folder.File("new2.bmp")).isDir());
    EXPECT_EQ(Captions(), (QStringList{"1;a.bmp", "2;b.bmp", "3;new3.bmp"}));
    EXPECT_TRUE(NothingLost());
}

TEST_F(BatchRename, AFileRemovedBehindTheProgramsBackIsReportedAndTheLoopGoesOn) {
    Sequence({"a.bmp", "b.bmp"});
    ASSERT_TRUE(QFile::remove(folder.File("a.bmp")));
    const QStringList failures = Run("z", 1, 1);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith("ファイル名変更失敗！\n"));
    EXPECT_TRUE(failures[0].contains(folder.File("a.bmp")));
    EXPECT_EQ(Captions(), (QStringList{"1;a.bmp", "2;z2.bmp"}));
}

TEST_F(BatchRename, ANameTooLongFailsAndTheLoopFinishes) {
    Sequence({"a.bmp", "b.bmp"});
    const QStringList failures = Run(QString(300, 'x'), 1, 1);
    EXPECT_EQ(failures.size(), 2);
    EXPECT_EQ(Contents(), before);
}

TEST_F(BatchRename, SemicolonsAndTheSameNameAgain) {
    Sequence({"a;b.gif", "s1.gif"});
    // Position 1 (a;b.gif) wants s1.gif, which position 2 holds: it fails; position 2 then
    // becomes s2.gif.
    EXPECT_EQ(Run("s", 1, 1).size(), 1);
    EXPECT_EQ(Captions(), (QStringList{"1;a;b.gif", "2;s2.gif"}));
}

TEST_F(BatchRename, ANameEqualToTheCurrentOneSucceeds) {
    Sequence({"p1.bmp", "p2.bmp"});
    EXPECT_TRUE(Run("p", 1, 1).isEmpty());
    EXPECT_EQ(Captions(), (QStringList{"1;p1.bmp", "2;p2.bmp"}));
    EXPECT_EQ(Contents(), before);
}

TEST_F(BatchRename, NamesThatAreNotUtf8AreRenamed) {
    const QString odd = platform::DecodeFileName("\xff\xfe.bmp");
    const int fd =
        open(platform::EncodeFileName(folder.File(odd)).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(write(fd, "odd bytes", 9), 9);
    close(fd);
    Sequence({odd});
    EXPECT_TRUE(Run("ok", 1, 1).isEmpty());
    EXPECT_EQ(test::ReadFileBytes(folder.File("ok1.bmp")), "odd bytes");
}

TEST_F(BatchRename, AMissingNumberStopsWithAnError) {
    Sequence({"a.bmp", "b.bmp"});
    files[1].number = 5;
    EXPECT_THROW(Run("q", 1, 1), Exception);
}

TEST_F(BatchRename, AFolderTextEndingInASeparatorGivesDoubleSlashPaths) {
    // The file-system root's folder text is "/", so its paths read "//name"; any folder text
    // that ends in "/" gives the same kind of path, and the system takes it as it stands.
    Sequence({"a.bmp", "b.bmp"});
    EXPECT_TRUE(Run("r", 1, 1, folder.Path() + "/").isEmpty());
    EXPECT_EQ(Contents().keys(), (QStringList{"r1.bmp", "r2.bmp"}));
    EXPECT_TRUE(NothingLost());
}
