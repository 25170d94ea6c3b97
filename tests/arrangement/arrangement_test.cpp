// The saved arrangement: which order comes back for a folder that changed since, what the
// state file accepts, and that a writer killed at any moment never leaves half a file.
#include "arrangement/arrangement.h"
#include "arrangement/arrangement_store.h"
#include "platform/file_names.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>

using namespace sorowa;
using namespace sorowa::arrangement;

namespace {

// A file as the tests describe it: name, then size and time small numbers.
TArrangedFile F(const char* name, std::int64_t size = 10, std::int64_t time = 100) {
    return {QString::fromUtf8(name), size, time};
}

// Sets XDG_STATE_HOME to a folder of the test's for as long as it lives.
class StateHome {
public:
    StateHome() { qputenv("XDG_STATE_HOME", folder.Path().toUtf8()); }
    ~StateHome() { qunsetenv("XDG_STATE_HOME"); }
    test::TempFolder folder;
};

QStringList StateFolderEntries() {
    return QDir(StateFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

TEST(RestoreRules, SavedFilesInSavedOrderThenTheOthersInNameOrder) {
    struct Case {
        const char* what;
        std::vector<TArrangedFile> saved;
        std::vector<TArrangedFile> present; // in name order
        QStringList expected;
    };
    const Case cases[] = {
        {"unchanged folder", {F("c"), F("a"), F("b")}, {F("a"), F("b"), F("c")}, {"c", "a", "b"}},
        {"files added since go to the end in name order",
         {F("d"), F("b")},
         {F("a"), F("b"), F("c"), F("d"), F("e")},
         {"d", "b", "a", "c", "e"}},
        {"files gone are left out",
         {F("c"), F("x"), F("a"), F("y"), F("b")},
         {F("a"), F("b"), F("c")},
         {"c", "a", "b"}},
        {"a file of another size is a file added since",
         {F("c"), F("b"), F("a")},
         {F("a"), F("b", 11), F("c")},
         {"c", "a", "b"}},
        {"a file of another time is a file added since",
         {F("c"), F("b"), F("a")},
         {F("a"), F("b"), F("c", 10, 101)},
         {"b", "a", "c"}},
        {"names differing in letter case are other files",
         {F("B"), F("a")},
         {F("a"), F("b")},
         {"a", "b"}},
        {"everything changed", {F("b"), F("a")}, {F("a", 1), F("b", 2)}, {"a", "b"}},
        {"nothing saved", {}, {F("a"), F("b")}, {"a", "b"}},
        {"an empty folder", {F("a")}, {}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RestoredOrder(c.saved, c.present), c.expected) << c.what;
}

TEST(StateFileText, RoundTripsAnyNameAndRefusesAnythingElse) {
    const TArrangement arrangement{
        QStringLiteral("/photos/trip 2024/%done"),
        {F("IMG 0002;x.jpg", 0, -5),
         {QStringLiteral("line\nfeed%.bmp"), 123456789012, 1733700000123456789},
         {platform::DecodeFileName("latin1-\xe9.gif"), 7, 0},
         F("日本語.jpg", 1, 2)}};
    const std::string text = FormatArrangement(arrangement);
    const TParseResult parsed = ParseArrangement(text);
    ASSERT_TRUE(parsed.arrangement.has_value());
    EXPECT_EQ(*parsed.arrangement, arrangement);
    // Every part of the file short of the whole is refused.
    for (std::size_t length = 0; length < text.size(); ++length)
        ASSERT_FALSE(ParseArrangement(std::string_view(text).substr(0, length)).arrangement)
            << length;

    const std::string head = "sorowa-arrangement 1\nfolder /f\n";
    struct Case {
        std::string text;
        TParseError error;
    };
    const Case cases[] = {
        {"sorowa-arrangement 2\nfolder /f\nend 0\n", TParseError::kHeader},
        {"sorowa-arrangement 1\nfolder f\nend 0\n", TParseError::kFolder},
        {"sorowa-arrangement 1\nfolder /f%00\nend 0\n", TParseError::kFolder},
        {head + "1 2\nend 1\n", TParseError::kEntry},
        {head + "-1 2 a\nend 1\n", TParseError::kEntry},
        {head + "01 2 a\nend 1\n", TParseError::kEntry},
        {head + "1 2x a\nend 1\n", TParseError::kEntry},
        {head + "99999999999999999999 2 a\nend 1\n", TParseError::kEntry},
        {head + "1 2 a%2Fb\nend 1\n", TParseError::kEntry}, // "/" is never escaped
        {head + "1 2 a%2\nend 1\n", TParseError::kEntry},
        {head + "1 2 a\tb\nend 1\n", TParseError::kEntry}, // a control byte unescaped
        {head + "1 2 a/b\nend 1\n", TParseError::kName},
        {head + "1 2 ..\nend 1\n", TParseError::kName},
        {head + "1 2 .\nend 1\n", TParseError::kName},
        {head + "1 2 \nend 1\n", TParseError::kName},
        {head + "1 2 a%00\nend 1\n", TParseError::kName},
        {head + "1 2 a\n3 4 a\nend 2\n", TParseError::kDuplicate},
        {head + "1 2 a\nend 2\n", TParseError::kEnd},
        {head + "1 2 a\nend 1\nend 1\n", TParseError::kTrailingText},
    };
    for (const Case& c : cases) {
        const TParseResult result = ParseArrangement(c.text);
        EXPECT_FALSE(result.arrangement) << c.text;
        EXPECT_EQ(result.error, c.error) << c.text;
    }
}

TEST(StateFile, SavedLoadedForgottenAndOnlyForItsOwnFolder) {
    StateHome home;
    EXPECT_EQ(StateFolder(), home.folder.Path() + "/sorowa");
    test::TempFolder pictures;
    pictures.Write("b.bmp", "bb");
    pictures.Write("a.bmp", "a");
    ASSERT_EQ(::mkdir(platform::EncodeFileName(pictures.File("sub.bmp")).c_str(), 0700), 0);
    const QString folder = CanonicalFolder(pictures.Path()).value();
    const TArrangement arrangement{
        folder, DescribeFiles(folder, {"b.bmp", "sub.bmp", "gone.bmp", "a.bmp"})};
    ASSERT_EQ(NamesOf(arrangement.files), (QStringList{"b.bmp", "a.bmp"}));
    EXPECT_EQ(arrangement.files[0].size, 2);

    EXPECT_FALSE(LoadArrangement(folder));
    ASSERT_EQ(SaveArrangement(arrangement), 0);
    EXPECT_EQ(LoadArrangement(folder), arrangement);
    EXPECT_EQ(StateFolderEntries().size(), 1); // no temporary left behind

    // Under another folder's name (copied there), it is not that folder's arrangement.
    const QString other = QStringLiteral("/elsewhere");
    ASSERT_TRUE(QFile::copy(StateFilePath(folder), StateFilePath(other)));
    EXPECT_FALSE(LoadArrangement(other));

    EXPECT_EQ(ForgetArrangement(folder), 0);
    EXPECT_FALSE(LoadArrangement(folder));
    EXPECT_EQ(ForgetArrangement(folder), 0); // nothing to forget is no error

    // Something that is not a file of ours in its place is ignored, and does not hang.
    const std::string path = platform::EncodeFileName(StateFilePath(folder));
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(LoadArrangement(folder));
    ::unlink(path.c_str());
    std::string big = FormatArrangement(arrangement);
    big.resize(kMaxStateFileBytes + 1, '\n');
    {
        QFile file(StateFilePath(folder));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(big.data(), static_cast<qint64>(big.size())),
                  static_cast<qint64>(big.size()));
    }
    EXPECT_FALSE(LoadArrangement(folder));
}

// ---- killed while saving ------------------------------------------------------------------

namespace {

constexpr char kChildHome[] = "SOROWA_TEST_ARRANGEMENT_HOME";
const QString kKilledFolder = QStringLiteral("/pictures/of/the/killed/writer");

// The i-th arrangement the child writes: every entry says i, so that a mix of two
// arrangements or a part of one shows.
TArrangement Generation(std::int64_t i) {
    TArrangement arrangement{kKilledFolder, {}};
    const std::int64_t count = 1 + (i * 7919) % 1000;
    for (std::int64_t j = 0; j < count; ++j)
        arrangement.files.push_back({QStringLiteral("g%1-%2.jpg").arg(i).arg(count - j), i, j});
    return arrangement;
}

} // namespace

TEST(KilledWhileSaving, Child) {
    if (!qEnvironmentVariableIsSet(kChildHome)) GTEST_SKIP() << "run by NeverLeavesHalfAFile";
    qputenv("XDG_STATE_HOME", qgetenv(kChildHome));
    for (std::int64_t i = 0;; ++i) {
        ASSERT_EQ(SaveArrangement(Generation(i)), 0);
        if (i == 0) std::fprintf(stdout, "saving\n"), std::fflush(stdout);
    }
}

TEST(KilledWhileSaving, NeverLeavesHalfAFile) {
    StateHome home;
    std::random_device seeds;
    const unsigned seed = seeds();
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    // A save takes some tens of milliseconds here (most of it the sync): the kills spread over
    // several of them.
    std::uniform_int_distribution<int> delayUs(0, 400000);
    std::set<std::int64_t> generations;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildHome, home.folder.Path());
        child.setProcessEnvironment(environment);
        child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=KilledWhileSaving.Child"});
        ASSERT_TRUE(child.waitForStarted());
        bool saving = false; // the test framework writes its own lines first
        while (!saving && (child.canReadLine() || child.waitForReadyRead(60000)))
            saving = child.readLine() == "saving\n";
        ASSERT_TRUE(saving);
        // A random moment of the saving loop: some kills land in the middle of a write.
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        child.kill(); // our own child, by its id
        ASSERT_TRUE(child.waitForFinished());
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);

        const std::optional<TArrangement> found = LoadArrangement(kKilledFolder);
        ASSERT_TRUE(found.has_value()) << "the state file is not a whole arrangement";
        ASSERT_FALSE(found->files.empty());
        const std::int64_t generation = found->files.front().size;
        EXPECT_EQ(*found, Generation(generation));
        generations.insert(generation);
    }
    // The kills did not all land before the second save.
    EXPECT_GT(generations.size(), 1u);
    // Kills that landed between creating a temporary file and renaming it left it behind.
    std::printf("%lld temporary file(s) left, %zu generations seen\n",
                static_cast<long long>(StateFolderEntries().size() - 1), generations.size());
    // The next save clears the temporary files of the writers that were killed.
    ASSERT_EQ(SaveArrangement(Generation(1)), 0);
    EXPECT_EQ(StateFolderEntries(),
              QStringList{QFileInfo(StateFilePath(kKilledFolder)).fileName()});
}
