// The settings file's location and the steps that read and write it, checked by the
// calls they make on the main window (recorded in order) and the bytes they leave.
#include "platform/file_names.h"
#include "settings/settings_file.h"
#include "support/temp_folder.h"
#include "support/unwritable_file.h"

#include <QDir>
#include <QFile>
#include <climits>
#include <gtest/gtest.h>

namespace sorowa::settings {
namespace {

using namespace Qt::StringLiterals;
using platform::EProfileWriteError;
using platform::ProfileFile;
using test::ReadFileBytes;
using test::TempFolder;

const QString kCurrent = u"/work/current"_s;

// Records every call of the hooks, in order, as one line of text.
struct Recorder {
    QStringList calls;
    // Called from the size command hook, as the main window's size command reads the user
    // size from the file when it is given the user item.
    const ProfileFile* file = nullptr;

    MainWindowHooks Hooks() {
        MainWindowHooks hooks;
        hooks.currentDirectory = [] { return kCurrent; };
        hooks.setDefaultFolder = [this](const QString& f) { calls << u"folder "_s + f; };
        hooks.runSizeCommand = [this](SizeItem item) {
            QString call = u"size "_s + QString::number(NumberForSizeItem(item));
            if (item == SizeItem::User && file != nullptr) {
                const QSize size = ReadUserSize(*file);
                call += u" %1x%2"_s.arg(size.width()).arg(size.height());
            }
            calls << call;
        };
        const auto record = [this](const char* name) {
            return [this, name](int v) { calls << QString::fromLatin1(name) + QString::number(v); };
        };
        hooks.setLeft = record("left ");
        hooks.setTop = record("top ");
        hooks.setWidth = record("width ");
        hooks.setHeight = record("height ");
        return hooks;
    }
};

struct StartupResult {
    QStringList calls;
    std::string bytes; // the file afterwards
};

StartupResult Startup(const std::optional<std::string>& contents) {
    TempFolder folder;
    const QString path = folder.File(u"sorowa.INI"_s);
    if (contents) folder.Write(u"sorowa.INI"_s, *contents);
    const ProfileFile file(path);
    Recorder recorder;
    recorder.file = &file;
    RunStartupSteps(file, recorder.Hooks());
    return {recorder.calls, ReadFileBytes(path).toStdString()};
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// ---- Location -----------------------------------------------------------------------------

TEST(SettingsFilePathTest, ReplacesOrAppendsTheExtension) {
    const struct {
        QString program, settings;
    } cases[] = {
        {u"/usr/bin/sorowa"_s, u"/usr/bin/sorowa.INI"_s},
        {u"/opt/a.b/sorowa"_s, u"/opt/a.b/sorowa.INI"_s},
        {u"C:/Tools/VESK.EXE"_s, u"C:/Tools/VESK.INI"_s},
        {u"/x/sorowa.bin.old"_s, u"/x/sorowa.bin.INI"_s},
        {u"/x/sorowa."_s, u"/x/sorowa.INI"_s},
        {u"/x/.sorowa"_s, u"/x/.sorowa.INI"_s},
        {u"sorowa"_s, u"sorowa.INI"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettingsFilePath(c.program), c.settings) << c.program.toStdString();
}

TEST(SettingsFileLocationTest, BesideTheProgramWhenWritableElseTheUserConfigFolder) {
    TempFolder program, config;
    qputenv("XDG_CONFIG_HOME", config.Path().toUtf8());
    const QString fallback = config.File(u"sorowa/sorowa.INI"_s);
    // A writable folder, with or without the file.
    EXPECT_EQ(SettingsFileLocation(program.File(u"sorowa"_s)), program.File(u"sorowa.INI"_s));
    program.Write(u"sorowa.INI"_s, "[Default]\n");
    EXPECT_EQ(SettingsFileLocation(program.File(u"sorowa"_s)), program.File(u"sorowa.INI"_s));
    // A folder that does not exist cannot take the file.
    EXPECT_EQ(SettingsFileLocation(program.File(u"missing/sorowa"_s)), fallback);
    EXPECT_TRUE(QDir(config.File(u"sorowa"_s)).exists());
    // A read-only folder. Permission bits do not stop root, the immutable attribute does.
    test::ImmutableFile readOnly(program.Path());
    if (!readOnly.Set()) GTEST_SKIP() << "no immutable attribute on this file system";
    EXPECT_EQ(SettingsFileLocation(program.File(u"sorowa"_s)), fallback);
    // A relative or empty variable is ignored.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(UserSettingsFolder(), QDir::homePath() + u"/.config/sorowa"_s);
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserSettingsFolder(), QDir::homePath() + u"/.config/sorowa"_s);
}

TEST(SettingsFileLocationTest, AbsoluteFolderTakesRelativeFoldersFromTheBase) {
    const QString home = QDir::homePath();
    const struct {
        QString folder, absolute;
    } cases[] = {
        {u""_s, u""_s},
        {u"/srv/photos"_s, u"/srv/photos"_s},
        {u"photos"_s, u"/etc/sorowa/photos"_s},
        {u"./a/../b"_s, u"/etc/sorowa/b"_s},
        {u"~"_s, home},
        {u"~/写真"_s, home + u"/写真"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AbsoluteFolder(c.folder, u"/etc/sorowa"_s), c.absolute) << c.folder.toStdString();
    // At start-up, a relative Dir is taken from the settings file's folder.
    TempFolder folder;
    folder.Write(u"sorowa.INI"_s, "[Default]\nDir=photos\n[thumbnail]\nNumber=100\n");
    Recorder recorder;
    RunStartupSteps(ProfileFile(folder.File(u"sorowa.INI"_s)), recorder.Hooks());
    EXPECT_EQ(recorder.calls.first(), u"folder "_s + folder.File(u"photos"_s));
}

TEST(FitPlacementTest, KeepsFittingPlacementsAndBringsOthersBackInReach) {
    const QRect desktop(0, 0, 1280, 1024);
    const struct {
        Placement stored, fitted;
    } cases[] = {
        {{100, 80, 900, 700}, {100, 80, 900, 700}},
        {{-20, -8, 640, 480}, {-20, -8, 640, 480}}, // partly off screen: kept
        {{0, 0, 1280, 1024}, {0, 0, 1280, 1024}},
        {{-700, -9, 640, 480}, {-540, -8, 640, 480}}, // at least 100 pixels stay
        {{1250, 1000, 640, 480}, {1180, 924, 640, 480}},
        {{0, 0, 5000, 10}, {0, 0, 1280, 100}},
        {{INT_MIN, INT_MIN, INT_MIN, INT_MIN}, {0, -8, 100, 100}},
        {{INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {1180, 924, 1280, 1024}},
    };
    for (const auto& c : cases) {
        const Placement p = FitPlacement(c.stored, desktop);
        EXPECT_EQ(QRect(p.left, p.top, p.width, p.height),
                  QRect(c.fitted.left, c.fitted.top, c.fitted.width, c.fitted.height))
            << c.stored.left << " " << c.stored.top << " " << c.stored.width << " "
            << c.stored.height;
    }
}

// ---- Start-up: default folder -------------------------------------------------------------

TEST(StartupStepsTest, NoFileWritesCurrentFolderAndSize100) {
    const StartupResult r = Startup(std::nullopt);
    EXPECT_EQ(r.calls, (QStringList{u"folder "_s, u"folder /work/current"_s, u"size 100"_s}));
    EXPECT_EQ(r.bytes, "[Default]\nDir=/work/current\n[thumbnail]\nNumber=100\n");
}

TEST(StartupStepsTest, EmptyDirIsReplacedByCurrentFolder) {
    const StartupResult r = Startup("[Default]\nDir=\n[thumbnail]\nNumber=100\n");
    EXPECT_EQ(r.calls, (QStringList{u"folder "_s, u"folder /work/current"_s, u"size 100"_s}));
    EXPECT_EQ(r.bytes, "[Default]\nDir=/work/current\n[thumbnail]\nNumber=100\n");
}

TEST(StartupStepsTest, StoredDirIsUsedAndNotWritten) {
    const std::string stored = "[Default]\nDir = /写真 \n[thumbnail]\nNumber=80\n";
    const StartupResult r = Startup(stored);
    EXPECT_EQ(r.calls, (QStringList{u"folder /写真"_s, u"size 80"_s}));
    EXPECT_EQ(r.bytes, stored);
}

// ---- Start-up: size choice ----------------------------------------------------------------

TEST(StartupStepsTest, NumberMissingOrZeroWrites100) {
    for (const std::string number : {"", "Number=0\n", "Number=\n", "Number=junk\n"}) {
        const StartupResult r = Startup("[Default]\nDir=/d\n[thumbnail]\n" + number);
        EXPECT_EQ(r.calls, (QStringList{u"folder /d"_s, u"size 100"_s})) << number;
        EXPECT_EQ(r.bytes, "[Default]\nDir=/d\n[thumbnail]\nNumber=100\n") << number;
    }
}

TEST(StartupStepsTest, KnownNumbersRunTheSizeCommandOthersNothing) {
    const struct {
        const char* number;
        QStringList calls;
    } cases[] = {
        {"80", {u"size 80"_s}},
        {"100", {u"size 100"_s}},
        {"0x78", {u"size 120"_s}},
        {"150", {u"size 150"_s}},
        {"7", {}},
        {"-100", {}},
        {"998", {}},
    };
    for (const auto& c : cases) {
        const std::string stored =
            std::string("[Default]\nDir=/d\n[thumbnail]\nNumber=") + c.number + "\n";
        const StartupResult r = Startup(stored);
        EXPECT_EQ(r.calls, QStringList{u"folder /d"_s} + c.calls) << c.number;
        EXPECT_EQ(r.bytes, stored) << c.number;
    }
}

TEST(StartupStepsTest, Number999UsesTheUserSizeOrItsDefaults) {
    EXPECT_EQ(Startup("[Default]\nDir=/d\n[thumbnail]\nNumber=999\n").calls,
              (QStringList{u"folder /d"_s, u"size 999 160x120"_s}));
    EXPECT_EQ(Startup("[Default]\nDir=/d\n[thumbnail]\nNumber=999\nSize_W=200\nSize_H=150\n").calls,
              (QStringList{u"folder /d"_s, u"size 999 200x150"_s}));
}

// ---- The user size ------------------------------------------------------------------------

TEST(UserSizeTest, ReadAsStoredWithinSaneBounds) {
    TempFolder folder;
    const ProfileFile file(folder.File(u"a.INI"_s));
    EXPECT_EQ(ReadUserSize(file), QSize(160, 120));
    const struct {
        const char* text;
        QSize size;
    } cases[] = {
        {"Size_W=0xA0\nSize_H=$A0\n", {160, 160}},
        {"Size_W=1000\nSize_H=50\n", {1000, 50}},
        {"Size_W=-3\nSize_H=0\n", {16, 16}},
        {"Size_W=2147483647\nSize_H=-2147483648\n", {1024, 16}},
        {"Size_W=1025\nSize_H=15\n", {1024, 16}},
        {"size_w=99999999999\nSIZE_H=12px\n", {160, 120}},
    };
    for (const auto& c : cases) {
        folder.Write(u"a.INI"_s, std::string("[thumbnail]\n") + c.text);
        EXPECT_EQ(ReadUserSize(file), c.size) << c.text;
    }
}

// ---- Start-up: placement ------------------------------------------------------------------

TEST(StartupStepsTest, PlacementAppliedInOrderOnlyWhenPositionIsTrue) {
    const std::string keys = "Left=-20\nTop=-10\nWidth=640\nHeight=480\n";
    const QStringList placement{u"left -20"_s, u"top -10"_s, u"width 640"_s, u"height 480"_s};
    const QStringList before{u"folder /d"_s, u"size 100"_s};
    const struct {
        const char* position;
        bool applied;
    } cases[] = {{"Position=1\n", true},  {"Position=2\n", true},    {"Position=0x1\n", true},
                 {"Position=0\n", false}, {"Position=yes\n", false}, {"", false}};
    for (const auto& c : cases) {
        const std::string stored =
            "[Default]\nDir=/d\n" + std::string(c.position) + keys + "[thumbnail]\nNumber=100\n";
        const StartupResult r = Startup(stored);
        EXPECT_EQ(r.calls, c.applied ? before + placement : before) << c.position;
        EXPECT_EQ(r.bytes, stored) << c.position;
    }
    // Missing placement keys give 0, 0, 500 x 400.
    EXPECT_EQ(Startup("[Default]\nDir=/d\nPosition=1\n[thumbnail]\nNumber=100\n").calls,
              (before + QStringList{u"left 0"_s, u"top 0"_s, u"width 500"_s, u"height 400"_s}));
}

TEST(StartupStepsTest, FileChangedByAnotherProgramBetweenStepsIsSeen) {
    TempFolder folder;
    const QString path = folder.Write(u"a.INI"_s, std::string("[Default]\nDir=/d\n[thumbnail]\n"
                                                              "Number=100\n"));
    const ProfileFile file(path);
    Recorder recorder;
    MainWindowHooks hooks = recorder.Hooks();
    // While the size is being applied, someone turns the placement option on.
    hooks.runSizeCommand = [&](SizeItem) {
        recorder.calls << u"size"_s;
        folder.Write(u"a.INI"_s, std::string("[Default]\nDir=/d\nPosition=1\nLeft=7\n"));
    };
    RunStartupSteps(file, hooks);
    EXPECT_EQ(recorder.calls, (QStringList{u"folder /d"_s, u"size"_s, u"left 7"_s, u"top 0"_s,
                                           u"width 500"_s, u"height 400"_s}));
}

// ---- Start-up: failing writes -------------------------------------------------------------

TEST(StartupStepsTest, UnwritableFolderStopsAtTheDirWrite) {
    TempFolder folder;
    const QString notAFolder = folder.Write(u"file"_s, std::string("x"));
    const ProfileFile file(notAFolder + u"/sorowa.INI"_s);
    Recorder recorder;
    try {
        RunStartupSteps(file, recorder.Hooks());
        ADD_FAILURE() << "no error";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), notAFolder + u"/sorowa.INI に書き込めません"_s);
    }
    // The folder was already taken over; no size, no placement.
    EXPECT_EQ(recorder.calls, (QStringList{u"folder "_s, u"folder /work/current"_s}));
}

// A settings file that can be read but not written: Dir is read, the write of Number fails,
// and neither the size nor the placement is applied.
void ExpectStopAtNumberWrite(const QString& path, const std::string& stored,
                             const std::function<void()>& blockWrites) {
    const ProfileFile file(path);
    Recorder recorder;
    blockWrites();
    try {
        RunStartupSteps(file, recorder.Hooks());
        ADD_FAILURE() << "no error";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), path + u" に書き込めません"_s);
    }
    EXPECT_EQ(recorder.calls, QStringList{u"folder /d"_s});
    EXPECT_EQ(ReadFileBytes(path).toStdString(), stored);
}

const std::string kNoNumber = "[Default]\nDir=/d\nPosition=1\nLeft=5\n";

TEST(StartupStepsTest, FullDiskStopsAtTheNumberWrite) {
    TempFolder folder;
    const QString path = folder.Write(u"sorowa.INI"_s, kNoNumber);
    std::optional<test::FileSizeLimit> limit;
    ExpectStopAtNumberWrite(path, kNoNumber, [&] { limit.emplace(kNoNumber.size()); });
    limit.reset();
    EXPECT_EQ(Entries(folder.Path()), QStringList{u"sorowa.INI"_s});
}

TEST(StartupStepsTest, ImmutableFileStopsAtTheNumberWrite) {
    TempFolder folder;
    const QString path = folder.Write(u"sorowa.INI"_s, kNoNumber);
    test::ImmutableFile immutable(path);
    if (!immutable.Set()) GTEST_SKIP() << "no immutable attribute here";
    ExpectStopAtNumberWrite(path, kNoNumber, [] {});
}

// ---- Closing ------------------------------------------------------------------------------

TEST(ClosingStepTest, WritesPlacementWhateverPositionHolds) {
    TempFolder folder;
    const QString path = folder.Write(u"a.INI"_s, std::string("[Default]\nDir=/d\nPosition=0\n"
                                                              "[thumbnail]\nNumber=100\n"));
    const ProfileFile file(path);
    WritePlacement(file, {-20, -10, 640, 480});
    EXPECT_EQ(ReadFileBytes(path), "[Default]\nDir=/d\nPosition=0\nLeft=-20\nTop=-10\nWidth=640\n"
                                   "Height=480\n[thumbnail]\nNumber=100\n");
    // The next closing refreshes the same keys in place.
    WritePlacement(file, {1, 2, 3, 4});
    EXPECT_EQ(ReadFileBytes(path), "[Default]\nDir=/d\nPosition=0\nLeft=1\nTop=2\nWidth=3\n"
                                   "Height=4\n[thumbnail]\nNumber=100\n");
}

TEST(ClosingStepTest, KeepsOtherSectionsCommentsAndOddSpacing) {
    TempFolder folder;
    const std::string before = "; my settings\r\n"
                               "[Tools]\r\n"
                               "Left = keep me\r\n"
                               "\r\n"
                               "   [DEFAULT]\r\n"
                               "  top\t=\t300\t\r\n"
                               "Dir=/d\r\n"
                               "\r\n"
                               "[thumbnail]\r\n"
                               "Number = 150";
    const QString path = folder.Write(u"a.INI"_s, before);
    WritePlacement(ProfileFile(path), {-8, -8, 1040, 780});
    EXPECT_EQ(ReadFileBytes(path), "; my settings\r\n"
                                   "[Tools]\r\n"
                                   "Left = keep me\r\n"
                                   "\r\n"
                                   "   [DEFAULT]\r\n"
                                   "  top\t=\t-8\t\r\n"
                                   "Dir=/d\r\n"
                                   "Left=-8\r\n"
                                   "Width=1040\r\n"
                                   "Height=780\r\n"
                                   "\r\n"
                                   "[thumbnail]\r\n"
                                   "Number = 150");
}

TEST(ClosingStepTest, FailingWriteThrowsAndLeavesTheFile) {
    TempFolder folder;
    const std::string before = "[Default]\nPosition=1\n";
    const QString path = folder.Write(u"a.INI"_s, before);
    test::FileSizeLimit limit(before.size());
    try {
        WritePlacement(ProfileFile(path), {1, 2, 3, 4});
        ADD_FAILURE() << "no error";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), path + u" に書き込めません"_s);
    }
    EXPECT_EQ(ReadFileBytes(path).toStdString(), before);
}

// ---- Options dialog and after it ----------------------------------------------------------

TEST(OptionValuesTest, ReadDefaultsAndWriteInOrder) {
    TempFolder folder;
    const ProfileFile file(folder.File(u"a.INI"_s));
    const OptionValues defaults = ReadOptionValues(file, u"/now"_s);
    EXPECT_EQ(defaults.folder, u"/now"_s);
    EXPECT_EQ(defaults.number, 100);
    EXPECT_EQ(defaults.userWidth, 160);
    EXPECT_EQ(defaults.userHeight, 120);
    EXPECT_FALSE(defaults.restorePlacement);

    // An empty folder field is written as it is.
    WriteOptionValues(file, {QString(), 999, 200, 150, true});
    EXPECT_EQ(ReadFileBytes(file.Path()),
              "[Default]\nDir=\nPosition=1\n[thumbnail]\nNumber=999\nSize_W=200\nSize_H=150\n");
    const OptionValues stored = ReadOptionValues(file, u"/now"_s);
    EXPECT_EQ(stored.folder, QString());
    EXPECT_EQ(stored.number, 999);
    EXPECT_EQ(stored.userWidth, 200);
    EXPECT_EQ(stored.userHeight, 150);
    EXPECT_TRUE(stored.restorePlacement);
    EXPECT_TRUE(stored.renameCompanions);

    // Companion files are renamed unless turned off; once turned off, the choice stays written.
    for (const bool companions : {false, true}) {
        WriteOptionValues(file, {QString(), 999, 200, 150, true, companions});
        EXPECT_EQ(ReadRenameCompanions(file), companions);
        EXPECT_TRUE(
            ReadFileBytes(file.Path()).contains(companions ? "Companions=1" : "Companions=0"));
    }
}

TEST(OptionValuesTest, AfterOkFolderAndSizeAreReadNothingWritten) {
    TempFolder folder;
    const struct {
        std::string stored;
        QStringList calls;
    } cases[] = {
        {"", {u"folder /held"_s}},
        {"[Default]\nDir=/new\n[thumbnail]\nNumber=150\n", {u"folder /new"_s, u"size 150"_s}},
        {"[Default]\nDir=\n[thumbnail]\nNumber=7\n", {u"folder "_s}},
        {"[thumbnail]\nNumber=999\nSize_W=61\n", {u"folder /held"_s, u"size 999 61x120"_s}},
    };
    for (const auto& c : cases) {
        const QString path = folder.File(u"a.INI"_s);
        QFile::remove(path);
        if (!c.stored.empty()) folder.Write(u"a.INI"_s, c.stored);
        const ProfileFile file(path);
        Recorder recorder;
        recorder.file = &file;
        RunOptionsAcceptedSteps(file, u"/held"_s, recorder.Hooks());
        EXPECT_EQ(recorder.calls, c.calls) << c.stored;
        EXPECT_EQ(ReadFileBytes(path).toStdString(), c.stored);
    }
}

} // namespace
} // namespace sorowa::settings
