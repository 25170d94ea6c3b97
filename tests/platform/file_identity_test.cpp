// Reading a file again later: by its name while it is the same file, by its inode after a
// rename in its folder, never a different or changed file in its place.
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "support/temp_folder.h"

#include <QFile>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::platform {
namespace {

FileIdentity IdentityOf(const QString& path) {
    const int fd = open(EncodeFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    const std::optional<FileIdentity> identity = IdentifyOpenFile(fd);
    close(fd);
    EXPECT_TRUE(identity.has_value());
    return identity.value_or(FileIdentity{});
}

// The fingerprint of the first bytes read from a file, as a load takes it.
FileFingerprint Print(std::string_view first) {
    return FingerprintOf(reinterpret_cast<const std::uint8_t*>(first.data()), first.size());
}

std::string Text(const RereadResult& result) {
    return std::string(reinterpret_cast<const char*>(result.bytes.get()), result.size);
}

void Rename(const QString& from, const QString& to) {
    ASSERT_EQ(std::rename(EncodeFileName(from).c_str(), EncodeFileName(to).c_str()), 0);
}

TEST(FileIdentityTest, ReadsTheSameFileByNameOrAfterARenameInItsFolder) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.jpg"), "0123456789");
    const FileIdentity identity = IdentityOf(path);
    EXPECT_EQ(identity.size, 10);

    RereadResult result = ReadFileAgain(path, identity, Print("0123"), 0);
    EXPECT_EQ(result.status, RereadStatus::Ok);
    EXPECT_EQ(Text(result), "0123456789");
    EXPECT_EQ(Text(ReadFileAgain(path, identity, Print("45"), 4)), "456789");
    EXPECT_EQ(ReadFileAgain(path, identity, Print(""), 10).status, RereadStatus::Ok);
    // Only the first bytes from the offset, when asked for fewer than remain.
    EXPECT_EQ(Text(ReadFileAgain(path, identity, Print("4"), 4, 3)), "456");
    EXPECT_EQ(Text(ReadFileAgain(path, identity, Print("4"), 4, 100)), "456789");

    // Renamed to a name that is not UTF-8, and another file put under the old name.
    const QString renamed = folder.Path() + u'/' + DecodeFileName("\xff\xfe.jpg");
    Rename(path, renamed);
    folder.Write(QStringLiteral("a.jpg"), "abcdefghij");
    result = ReadFileAgain(path, identity, Print("23"), 2);
    EXPECT_EQ(result.status, RereadStatus::Ok);
    EXPECT_EQ(result.path, renamed);
    EXPECT_EQ(Text(result), "23456789");
    EXPECT_EQ(Text(ReadFileAgain(path, identity, Print("2"), 2, 2)), "23");
}

TEST(FileIdentityTest, AResizedReplacedOrRemovedFileIsNeverReadAsTheOneLoaded) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.jpg"), "0123456789");
    const FileIdentity identity = IdentityOf(path);

    {
        // Written in place: same inode, other size.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("more");
    }
    RereadResult result = ReadFileAgain(path, identity, Print("0123"), 0);
    EXPECT_EQ(result.status, RereadStatus::Changed);
    EXPECT_EQ(result.bytes, nullptr);

    // Only stamped with another time (as renaming does on some file systems): still the file.
    const QString second = folder.Write(QStringLiteral("b.jpg"), "0123456789");
    const FileIdentity secondIdentity = IdentityOf(second);
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, EncodeFileName(second).c_str(), times, 0), 0);
    EXPECT_EQ(ReadFileAgain(second, secondIdentity, Print("0123"), 0).status, RereadStatus::Ok);

    // Saved over by writing a new file and renaming it into place.
    const QString third = folder.Write(QStringLiteral("c.jpg"), "0123456789");
    const FileIdentity thirdIdentity = IdentityOf(third);
    Rename(folder.Write(QStringLiteral("c.tmp"), "0123456789"), third);
    EXPECT_EQ(ReadFileAgain(third, thirdIdentity, Print("0123"), 0).status, RereadStatus::Changed);

    const QString fourth = folder.Write(QStringLiteral("d.jpg"), "0123456789");
    const FileIdentity fourthIdentity = IdentityOf(fourth);
    ASSERT_TRUE(QFile::remove(fourth));
    EXPECT_EQ(ReadFileAgain(fourth, fourthIdentity, Print("0123"), 0).status,
              RereadStatus::Missing);
    EXPECT_EQ(
        ReadFileAgain(folder.File(QStringLiteral("gone/d.jpg")), fourthIdentity, Print("0123"), 0)
            .status,
        RereadStatus::Missing);
}

// Device, inode and size say where the loaded file is, not that it still holds what was
// loaded: a file of the same size written over in place, or deleted and made anew under the
// inode number the file system hands out again, is changed, whichever name it is looked for
// under.
TEST(FileIdentityTest, SameSizeOtherBytesUnderTheSameInodeAreAChangedFile) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.jpg"), "0123456789");
    const FileIdentity identity = IdentityOf(path);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("ab");
    }
    ASSERT_EQ(IdentityOf(path).inode, identity.inode);
    ASSERT_EQ(IdentityOf(path).size, identity.size);
    EXPECT_EQ(ReadFileAgain(path, identity, Print("0123"), 0).status, RereadStatus::Changed);
    EXPECT_EQ(ReadFileAgain(path, identity, Print("0123"), 0, 2).status, RereadStatus::Changed)
        << "a read of fewer bytes still covers the fingerprint";
    Rename(path, folder.File(QStringLiteral("b.jpg")));
    EXPECT_EQ(ReadFileAgain(path, identity, Print("0123"), 0).status, RereadStatus::Changed);

    // Deleted and made anew: the loaded identity is given the new file's inode number, as a
    // file system that hands the number out again would.
    const QString second = folder.Write(QStringLiteral("c.jpg"), "0123456789");
    FileIdentity reused = IdentityOf(second);
    ASSERT_TRUE(QFile::remove(second));
    folder.Write(QStringLiteral("c.jpg"), "abcdefghij");
    reused.inode = IdentityOf(second).inode;
    EXPECT_EQ(ReadFileAgain(second, reused, Print("0123"), 0).status, RereadStatus::Changed);
    EXPECT_EQ(ReadFileAgain(second, reused, Print("abcd"), 0).status, RereadStatus::Ok)
        << "the same bytes are the same picture";
}

// A large bitmap reads its rows from anywhere in its file at each draw: the bytes come from
// the offset asked for, and only while its headers still have the fingerprint taken at load.
TEST(FileIdentityTest, ARangeIsReadOnlyWhileTheFingerprintedHeadStaysTheSame) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.bmp"), "HEADrow1row2row3");
    const FileIdentity identity = IdentityOf(path);
    EXPECT_EQ(Text(ReadFileRangeAgain(path, identity, Print("HEAD"), 0, 8, 4)), "row2");
    EXPECT_EQ(Text(ReadFileRangeAgain(path, identity, Print("EA"), 1, 12, 100)), "row3");
    EXPECT_EQ(ReadFileRangeAgain(path, identity, Print("HEAD"), 0, 16, 4).size, 0u);
    EXPECT_EQ(ReadFileRangeAgain(path, identity, Print("HEXD"), 0, 8, 4).status,
              RereadStatus::Changed);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("head");
    }
    EXPECT_EQ(ReadFileRangeAgain(path, identity, Print("HEAD"), 0, 8, 4).status,
              RereadStatus::Changed)
        << "same size, same inode, other headers";
}

// FAT and FUSE number a file anew once the system has forgotten it. Such a file is still found
// by its device, size and modification time to the nanosecond: at its name, or else as the one
// entry of its folder that matches, never by guessing between several.
TEST(FileIdentityTest, AFileWhoseInodeNumberChangedIsFoundByItsSizeAndTime) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.jpg"), "0123456789");
    FileIdentity renumbered = IdentityOf(path);
    renumbered.inode += 100'000;

    RereadResult result = ReadFileAgain(path, renumbered, Print("0123"), 0);
    EXPECT_EQ(result.status, RereadStatus::Ok);
    EXPECT_EQ(Text(result), "0123456789");

    const QString renamed = folder.File(QStringLiteral("b.jpg"));
    Rename(path, renamed);
    folder.Write(QStringLiteral("other.jpg"), "abcdefghij"); // same size, another time
    result = ReadFileAgain(path, renumbered, Print("0123"), 0);
    EXPECT_EQ(result.status, RereadStatus::Ok);
    EXPECT_EQ(result.path, renamed);

    // A copy with the same size and time: two files match, neither is taken.
    const QString copy = folder.Write(QStringLiteral("c.jpg"), "0123456789");
    const struct timespec times[2] = {
        {0, UTIME_OMIT},
        {renumbered.modifiedNs / 1'000'000'000, renumbered.modifiedNs % 1'000'000'000}};
    ASSERT_EQ(utimensat(AT_FDCWD, EncodeFileName(copy).c_str(), times, 0), 0);
    EXPECT_EQ(ReadFileAgain(path, renumbered, Print("0123"), 0).status, RereadStatus::Missing);
    // With its own inode number it is still found among them.
    EXPECT_EQ(ReadFileAgain(path, IdentityOf(renamed), Print("0123"), 0).path, renamed);
}

} // namespace
} // namespace sorowa::platform
