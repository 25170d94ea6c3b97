// The profile-file operations: value encodings, what a write keeps, and how writes fail.
#include "platform/directories.h"
#include "platform/file_names.h"
#include "platform/profile.h"
#include "support/temp_folder.h"
#include "support/unwritable_file.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace sorowa::platform {
namespace {

using namespace Qt::StringLiterals;
using test::ReadFileBytes;
using test::TempFolder;

const QString kS = QStringLiteral("Default");
const QString kT = QStringLiteral("thumbnail");

QString WriteError(const QString& path) {
    return path + QStringLiteral(" に書き込めません");
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

mode_t ModeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(lstat(EncodeFileName(path).c_str(), &info), 0);
    return info.st_mode;
}

// ---- Integer encodings --------------------------------------------------------------------

TEST(ProfileIntegerTest, AcceptsDecimalAndThreeHexadecimalForms) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"2", 2},
        {"0", 0},
        {"-20", -20},
        {"+7", 7},
        {"  \t42", 42},
        {" -5", -5},
        {"0x1", 1},
        {"0xA0", 160},
        {"0XA0", 160},
        {"$A0", 160},
        {"$a0", 160},
        {"-$10", -16},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0x7FFFFFFF", 2147483647},
        {"-0x80000000", -2147483647 - 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseProfileInteger(c.text), c.value) << c.text;
}

TEST(ProfileIntegerTest, RefusesAnythingElse) {
    for (const char* text : {"",
                             "  ",
                             "yes",
                             "12abc",
                             "1 2",
                             "5 ",
                             "- 5",
                             "--5",
                             "+",
                             "$",
                             "0x",
                             "0x1g",
                             "$-1",
                             "1.5",
                             "2147483648",
                             "-2147483649",
                             "0x80000000",
                             "$FFFFFFFF",
                             "99999999999999999999",
                             "0x000000000000000000000000000000000000001G"})
        EXPECT_EQ(ParseProfileInteger(text), std::nullopt) << text;
}

TEST(ProfileIntegerTest, ReadsFromFileWithDefaults) {
    TempFolder folder;
    const ProfileFile file(folder.Write(QStringLiteral("a.INI"), std::string("[Default]\n"
                                                                             "Position=2\n"
                                                                             "Hex=0x1\n"
                                                                             "Word=yes\n"
                                                                             "Zero=0\n"
                                                                             "[thumbnail]\n"
                                                                             "Size_W=0xA0\n"
                                                                             "Size_H=$A0\n"
                                                                             "Big=2147483648\n"
                                                                             "Junk=12abc\n"
                                                                             "Empty=\n"
                                                                             "Left = -20 \n")));
    EXPECT_TRUE(file.ReadBool(kS, QStringLiteral("Position"), false));
    EXPECT_TRUE(file.ReadBool(kS, QStringLiteral("Hex"), false));
    EXPECT_FALSE(file.ReadBool(kS, QStringLiteral("Word"), false));
    EXPECT_TRUE(file.ReadBool(kS, QStringLiteral("Word"), true));
    EXPECT_FALSE(file.ReadBool(kS, QStringLiteral("Zero"), true));
    EXPECT_TRUE(file.ReadBool(kS, QStringLiteral("Missing"), true));
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Size_W"), 1), 160);
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Size_H"), 1), 160);
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Big"), 77), 77);
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Junk"), 77), 77);
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Empty"), 77), 77);
    EXPECT_EQ(file.ReadInteger(kT, QStringLiteral("Left"), 77), -20);
}

TEST(ProfileIntegerTest, WritesDecimalAndOneOrZero) {
    TempFolder folder;
    const ProfileFile file(folder.File(QStringLiteral("a.INI")));
    file.WriteInteger(kS, QStringLiteral("Left"), -2147483647 - 1);
    file.WriteBool(kS, QStringLiteral("Position"), true);
    file.WriteBool(kS, QStringLiteral("Other"), false);
    EXPECT_EQ(ReadFileBytes(file.Path()), "[Default]\nLeft=-2147483648\nPosition=1\nOther=0\n");
    EXPECT_EQ(file.ReadInteger(kS, QStringLiteral("Left"), 0), -2147483647 - 1);
}

// ---- Reading text -------------------------------------------------------------------------

TEST(ProfileReadTest, MissingFileSectionOrKeyGivesTheDefault) {
    TempFolder folder;
    const QString path = folder.Write(QStringLiteral("a.INI"), std::string("[Default]\nDir=/x\n"));
    const QString fallback = QStringLiteral("fallback");
    EXPECT_EQ(
        ProfileFile(folder.File(QStringLiteral("none.INI"))).ReadString(kS, u"Dir"_s, fallback),
        fallback);
    EXPECT_EQ(ProfileFile(folder.File(QStringLiteral("no/such/folder/a.INI")))
                  .ReadString(kS, u"Dir"_s, fallback),
              fallback);
    EXPECT_EQ(ProfileFile(path).ReadString(kT, u"Dir"_s, fallback), fallback);
    EXPECT_EQ(ProfileFile(path).ReadString(kS, u"Size"_s, fallback), fallback);
    // A folder where the file should be reads like a missing file.
    EXPECT_EQ(ProfileFile(folder.Path()).ReadString(kS, u"Dir"_s, fallback), fallback);
}

TEST(ProfileReadTest, NamesIgnoreCaseAndBlanksFirstMatchWins) {
    TempFolder folder;
    const ProfileFile file(
        folder.Write(QStringLiteral("a.INI"), std::string("Dir=/outside any section\n"
                                                          "[thumbnail]\n"
                                                          "Dir=/other section\n"
                                                          "  [ DEFAULT ]   trailing words\n"
                                                          ";Dir=/comment\n"
                                                          "Dir without equals sign\n"
                                                          "\tdIR  =   /first value  \n"
                                                          "Dir=/second value\n"
                                                          "Empty=\n"
                                                          "[default]\n"
                                                          "Left=9\n")));
    EXPECT_EQ(file.ReadString(kS, u"Dir"_s, u"?"_s), u"/first value"_s);
    EXPECT_EQ(file.ReadString(u"default"_s, u"DIR"_s, u"?"_s), u"/first value"_s);
    // Present but empty is empty, not the default.
    EXPECT_EQ(file.ReadString(kS, u"Empty"_s, u"?"_s), QString());
    // Only the first section of a name is looked at.
    EXPECT_EQ(file.ReadInteger(kS, u"Left"_s, 1), 1);
}

TEST(ProfileReadTest, LongValuesAreCutAt2047Bytes) {
    TempFolder folder;
    const std::string ascii(3000, 'a');
    // 2046 ASCII bytes, then a three-byte character straddling the limit.
    const std::string straddling = std::string(2046, 'b') + "あいう";
    const ProfileFile file(folder.Write(QStringLiteral("a.INI"),
                                        "[Default]\nA=" + ascii + "\nB=" + straddling + "\n"));
    EXPECT_EQ(file.ReadString(kS, u"A"_s, {}), QString(2047, u'a'));
    EXPECT_EQ(file.ReadString(kS, u"B"_s, {}), QString(2046, u'b'));
}

TEST(ProfileReadTest, ByteOrderMarkCrLfAndUtf8) {
    TempFolder folder;
    const ProfileFile file(folder.Write(
        QStringLiteral("a.INI"), std::string("\xEF\xBB\xBF[Default]\r\nDir=/写真\r\nLeft=3")));
    EXPECT_EQ(file.ReadString(kS, u"Dir"_s, {}), u"/写真"_s);
    EXPECT_EQ(file.ReadInteger(kS, u"Left"_s, 0), 3);
}

TEST(ProfileReadTest, ChangesByAnotherProgramAreSeenAtTheNextRead) {
    TempFolder folder;
    const ProfileFile file(folder.File(QStringLiteral("a.INI")));
    file.WriteInteger(kT, u"Size_W"_s, 200);
    EXPECT_EQ(file.ReadInteger(kT, u"Size_W"_s, 160), 200);
    folder.Write(QStringLiteral("a.INI"), std::string("[thumbnail]\nSize_W=300\n"));
    EXPECT_EQ(file.ReadInteger(kT, u"Size_W"_s, 160), 300);
    QFile::remove(file.Path());
    EXPECT_EQ(file.ReadInteger(kT, u"Size_W"_s, 160), 160);
    // And a write starts from what is on disk now, not from what was seen before.
    folder.Write(QStringLiteral("a.INI"), std::string("[thumbnail]\nNumber=999\n"));
    file.WriteInteger(kT, u"Size_H"_s, 150);
    EXPECT_EQ(ReadFileBytes(file.Path()), "[thumbnail]\nNumber=999\nSize_H=150\n");
}

// ---- Writing text -------------------------------------------------------------------------

TEST(ProfileWriteTest, CreatesFileSectionsAndKeys) {
    TempFolder folder;
    const ProfileFile file(folder.File(QStringLiteral("sorowa.INI")));
    file.WriteString(kS, u"Dir"_s, u"/home/user"_s);
    EXPECT_EQ(ReadFileBytes(file.Path()), "[Default]\nDir=/home/user\n");
    file.WriteInteger(kT, u"Number"_s, 100);
    file.WriteInteger(kS, u"Left"_s, 5);
    file.WriteString(kS, u"dir"_s, u"/写真"_s);
    EXPECT_EQ(ReadFileBytes(file.Path()),
              "[Default]\nDir=/写真\nLeft=5\n[thumbnail]\nNumber=100\n");
    // A new file gets the usual mode less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(ModeOf(file.Path()) & 0777, 0666 & ~mask);
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"sorowa.INI"_s});
}

TEST(ProfileWriteTest, KeepsOtherSectionsCommentsAndSpacing) {
    TempFolder folder;
    const ProfileFile file(folder.Write(QStringLiteral("a.INI"), std::string("; written by hand\n"
                                                                             "\n"
                                                                             "[Other]\n"
                                                                             "Left=1\n"
                                                                             "\n"
                                                                             "  [ default ]  \n"
                                                                             "  LEFT   =   10  \n"
                                                                             "Dir=/pictures\n"
                                                                             "\n"
                                                                             "; thumbnails\n"
                                                                             "[thumbnail]\n"
                                                                             "Number=999")));
    file.WriteInteger(kS, u"Left"_s, -20);
    file.WriteInteger(kS, u"Top"_s, -5);
    file.WriteInteger(kT, u"Size_W"_s, 200);
    file.WriteString(u"New"_s, u"Key"_s, u"v"_s);
    EXPECT_EQ(ReadFileBytes(file.Path()), "; written by hand\n"
                                          "\n"
                                          "[Other]\n"
                                          "Left=1\n"
                                          "\n"
                                          "  [ default ]  \n"
                                          "  LEFT   =   -20  \n"
                                          "Dir=/pictures\n"
                                          "Top=-5\n"
                                          "\n"
                                          "; thumbnails\n"
                                          "[thumbnail]\n"
                                          "Number=999\n"
                                          "Size_W=200\n"
                                          "[New]\n"
                                          "Key=v\n");
}

TEST(ProfileWriteTest, CrLfFileGetsCrLfLines) {
    TempFolder folder;
    const ProfileFile file(
        folder.Write(QStringLiteral("a.INI"), std::string("[Default]\r\nDir=C:\\x\r\n")));
    file.WriteInteger(kS, u"Left"_s, 1);
    file.WriteInteger(kT, u"Number"_s, 80);
    file.WriteString(kS, u"Dir"_s, u"/y"_s);
    EXPECT_EQ(ReadFileBytes(file.Path()),
              "[Default]\r\nDir=/y\r\nLeft=1\r\n[thumbnail]\r\nNumber=80\r\n");
}

TEST(ProfileWriteTest, DamagedFileKeepsEveryByteButTheChangedKey) {
    std::string junk;
    for (int b = 0; b < 256; ++b)
        junk += static_cast<char>(b);
    const std::string longLine = std::string(200000, 'x') + "=[y]" + std::string(1000, '\0');
    const std::string head = junk + "\n" + longLine + "\n[thumbnail]\nNumber=";
    const std::string tail = "\n\xFF\xFE no equals sign \x01\x02";
    TempFolder folder;
    const ProfileFile file(folder.Write(QStringLiteral("a.INI"), head + "7" + tail));
    EXPECT_EQ(file.ReadInteger(kT, u"Number"_s, 0), 7);

    file.WriteInteger(kT, u"Number"_s, 100);
    EXPECT_EQ(ReadFileBytes(file.Path()).toStdString(), head + "100" + tail);

    // A new key goes after the section's last entry; the unknown line stays after it.
    file.WriteInteger(kT, u"Size_W"_s, 160);
    const std::string withKey = head + "100\nSize_W=160" + tail;
    EXPECT_EQ(ReadFileBytes(file.Path()).toStdString(), withKey);

    // The last line had no line break: one is added before the new section, nothing else.
    file.WriteString(kS, u"Dir"_s, u"/x"_s);
    EXPECT_EQ(ReadFileBytes(file.Path()).toStdString(), withKey + "\n[Default]\nDir=/x\n");
}

TEST(ProfileWriteTest, ValueBytesThatAreNotUtf8RoundTrip) {
    TempFolder folder;
    const ProfileFile file(folder.File(QStringLiteral("a.INI")));
    const QString folderName = DecodeFileName("/pics/\x8E\xCA\x90\x5E"); // Shift-JIS bytes
    file.WriteString(kS, u"Dir"_s, folderName);
    EXPECT_EQ(ReadFileBytes(file.Path()), "[Default]\nDir=/pics/\x8E\xCA\x90\x5E\n");
    EXPECT_EQ(file.ReadString(kS, u"Dir"_s, {}), folderName);
}

TEST(ProfileWriteTest, RefusesTextThatWouldAddLines) {
    TempFolder folder;
    const std::string before = "[Default]\nDir=/x\n";
    const ProfileFile file(folder.Write(QStringLiteral("a.INI"), before));
    for (const auto& [section, key, value] :
         {std::tuple{kS, u"Dir"_s, u"/a\n[thumbnail]\nNumber=80"_s},
          std::tuple{kS, u"Dir"_s, u"/a\rb"_s}, std::tuple{u"A]B"_s, u"K"_s, u"v"_s},
          std::tuple{kS, u"K=L"_s, u"v"_s}, std::tuple{kS, u""_s, u"v"_s},
          std::tuple{kS, u"[K]"_s, u"v"_s}}) {
        EXPECT_THROW(file.WriteString(section, key, value), EProfileWriteError)
            << key.toStdString();
    }
    EXPECT_EQ(ReadFileBytes(file.Path()).toStdString(), before);
}

TEST(ProfileWriteTest, KeepsPermissionsAndSymbolicLinks) {
    TempFolder folder;
    const QString real = folder.Write(QStringLiteral("real.INI"), std::string("[Default]\n"));
    ASSERT_EQ(chmod(EncodeFileName(real).c_str(), 0640), 0);
    const QString link = folder.File(QStringLiteral("link.INI"));
    ASSERT_TRUE(QFile::link(real, link));

    ProfileFile(link).WriteInteger(kS, u"Left"_s, 4);
    EXPECT_TRUE(S_ISLNK(ModeOf(link)));
    EXPECT_EQ(ModeOf(real) & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(real), "[Default]\nLeft=4\n");
    EXPECT_EQ(Entries(folder.Path()), (QStringList{u"link.INI"_s, u"real.INI"_s}));
}

// A settings file that is a link to a file not the user's, or in a folder not the user's: the
// link is replaced by the program's own file and what it pointed at is never written.
TEST(ProfileWriteTest, LinkToAnotherUsersFileIsReplacedNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give files to another user";
    for (const bool foreignFolder : {false, true}) {
        TempFolder folder;
        ASSERT_TRUE(QDir(folder.Path()).mkdir(u"theirs"_s));
        const QString theirs =
            folder.Write(u"theirs/authorized_keys"_s, std::string("[Default]\n"));
        const QString owned = foreignFolder ? folder.File(u"theirs"_s) : theirs;
        ASSERT_EQ(chown(EncodeFileName(owned).c_str(), 65534, 65534), 0);
        const QString link = folder.File(u"sorowa.INI"_s);
        ASSERT_TRUE(QFile::link(theirs, link));

        ProfileFile(link).WriteInteger(kS, u"Left"_s, 4);
        EXPECT_TRUE(S_ISREG(ModeOf(link))) << foreignFolder;
        EXPECT_EQ(ReadFileBytes(link), "[Default]\nLeft=4\n");
        EXPECT_EQ(ReadFileBytes(theirs), "[Default]\n");
    }
}

// ---- Failing writes -----------------------------------------------------------------------

TEST(ProfileWriteFailureTest, FolderMissingOrAFile) {
    TempFolder folder;
    const QString plain = folder.Write(QStringLiteral("plain"), std::string("keep"));
    const struct {
        QString path;
        int code;
    } cases[] = {{folder.File(QStringLiteral("missing/sorowa.INI")), ENOENT},
                 {plain + QStringLiteral("/sorowa.INI"), ENOTDIR}};
    for (const auto& c : cases) {
        try {
            ProfileFile(c.path).WriteInteger(kS, u"Left"_s, 1);
            ADD_FAILURE() << "no error for " << c.path.toStdString();
        } catch (const EProfileWriteError& e) {
            EXPECT_EQ(e.Message(), WriteError(c.path));
            EXPECT_EQ(e.Code(), c.code);
        }
    }
    EXPECT_EQ(ReadFileBytes(plain), "keep");
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"plain"_s});
}

TEST(ProfileWriteFailureTest, RelativePathIsReportedInFull) {
    TempFolder folder;
    const QString previous = CurrentDirectory();
    SetCurrentDirectory(folder.Path());
    try {
        ProfileFile(u"missing/a.INI"_s).WriteInteger(kS, u"Left"_s, 1);
        ADD_FAILURE() << "no error";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), WriteError(CurrentDirectory() + u"/missing/a.INI"_s));
    }
    SetCurrentDirectory(previous);
}

TEST(ProfileWriteFailureTest, SomethingUnreadableInThePlaceOfTheFileIsLeftAlone) {
    TempFolder folder;
    const QString path = folder.File(QStringLiteral("a.INI"));
    ASSERT_TRUE(QDir().mkdir(path));
    folder.Write(QStringLiteral("a.INI/inside"), std::string("keep"));
    EXPECT_THROW(ProfileFile(path).WriteInteger(kS, u"Left"_s, 1), EProfileWriteError);
    EXPECT_EQ(ReadFileBytes(path + u"/inside"_s), "keep");
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"a.INI"_s});
}

TEST(ProfileWriteFailureTest, FullDiskLeavesTheOldFileWhole) {
    TempFolder folder;
    const std::string before = "[Default]\nDir=/x\n; " + std::string(4000, 'c') + "\n";
    const QString path = folder.Write(QStringLiteral("a.INI"), before);
    {
        test::FileSizeLimit limit(before.size()); // the new text is longer than the old one
        try {
            ProfileFile(path).WriteInteger(kS, u"Left"_s, 1);
            ADD_FAILURE() << "no error";
        } catch (const EProfileWriteError& e) {
            EXPECT_EQ(e.Message(), WriteError(path));
            EXPECT_EQ(e.Code(), EFBIG);
        }
    }
    EXPECT_EQ(ReadFileBytes(path).toStdString(), before);
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"a.INI"_s}); // no temporary file left
}

TEST(ProfileWriteFailureTest, ImmutableFileIsRefused) {
    TempFolder folder;
    const std::string before = "[Default]\nDir=/x\n";
    const QString path = folder.Write(QStringLiteral("a.INI"), before);
    test::ImmutableFile immutable(path);
    if (!immutable.Set()) GTEST_SKIP() << "no immutable attribute here";
    try {
        ProfileFile(path).WriteInteger(kS, u"Left"_s, 1);
        ADD_FAILURE() << "no error";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), WriteError(path));
    }
    EXPECT_EQ(ReadFileBytes(path).toStdString(), before);
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"a.INI"_s});
}

TEST(ProfileWriteFailureTest, ReadOnlyFileIsRefusedForOrdinaryUsers) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    TempFolder folder;
    const std::string before = "[Default]\nDir=/x\n";
    const QString path = folder.Write(QStringLiteral("a.INI"), before);
    ASSERT_EQ(chmod(EncodeFileName(path).c_str(), 0444), 0);
    EXPECT_THROW(ProfileFile(path).WriteInteger(kS, u"Left"_s, 1), EProfileWriteError);
    EXPECT_EQ(ReadFileBytes(path).toStdString(), before);
}

} // namespace
} // namespace sorowa::platform
