// Two-phase renames on real folders: whatever the moves (swaps, rotations, shifts, a reversed
// thousand, letter case on FAT, a foreign file holding a new name, a read-only folder, a crash
// after any single step), no file is lost or replaced: the contents found in the folder
// afterwards are exactly those found before.
#include "platform/errors.h"
#include "platform/file_names.h"
#include "platform/folder_handle.h"
#include "rename/rename_journal.h"
#include "rename/rename_recovery.h"
#include "rename/two_phase_rename.h"
#include "support/mounts.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sys/prctl.h>

using namespace sorowa;

namespace {

// name -> content of every entry of folder, journal and temporary names included.
std::map<QString, QByteArray> Contents(const QString& folder) {
    std::map<QString, QByteArray> contents;
    for (const platform::DirectoryEntry& entry : platform::ReadDirectory(folder))
        contents[entry.name] = test::ReadFileBytes(folder + u'/' + entry.name);
    return contents;
}

// The checksums of the contents, as a sorted list: equal before and after a rename.
QList<QByteArray> Checksums(const std::map<QString, QByteArray>& contents) {
    QList<QByteArray> sums;
    for (const auto& [name, bytes] : contents)
        sums << QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    std::sort(sums.begin(), sums.end());
    return sums;
}

// Temporary names differ from run to run.
std::map<QString, QByteArray> WithTemporaryNamesAlike(std::map<QString, QByteArray> contents) {
    std::map<QString, QByteArray> alike;
    for (auto& [name, bytes] : contents)
        alike[name.startsWith(".sorowa-") && name != kRenameJournalName ? "<temporary>" : name] =
            bytes;
    return alike;
}

void WriteFiles(const QString& folder, const QStringList& names) {
    for (const QString& name : names) {
        QFile file(folder + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write("content of " + name.toUtf8());
    }
}

std::vector<TMove> Moves(const QStringList& from, const QStringList& to) {
    std::vector<TMove> moves;
    for (qsizetype i = 0; i < from.size(); ++i)
        moves.push_back({from[i], to[i]});
    return moves;
}

// What the folder must hold after moves all succeeded: each new name with its file's content.
std::map<QString, QByteArray> Expected(const std::map<QString, QByteArray>& before,
                                       const std::vector<TMove>& moves) {
    std::map<QString, QByteArray> expected = before;
    for (const TMove& move : moves)
        expected.erase(move.from);
    for (const TMove& move : moves)
        expected[move.to] = before.at(move.from);
    return expected;
}

struct Case {
    const char* name;
    QStringList from;
    QStringList to;
};

QStringList Numbered(const QString& base, int first, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("%1%2.jpg").arg(base).arg(first + i, 4, 10, QChar(u'0'));
    return names;
}

QStringList Reversed(QStringList names) {
    std::reverse(names.begin(), names.end());
    return names;
}

class TwoPhaseMoves : public testing::TestWithParam<Case> {};

TEST_P(TwoPhaseMoves, EveryFileReachesItsNewNameAndNothingIsLeftOver) {
    test::TempFolder folder;
    const Case& c = GetParam();
    WriteFiles(folder.Path(), c.from);
    const auto before = Contents(folder.Path());
    const auto moves = Moves(c.from, c.to);
    const auto outcomes = RunTwoPhaseRename(folder.Path(), moves);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].place, TPlace::kTarget) << i;
        EXPECT_EQ(outcomes[i].nameNow, moves[i].to);
    }
    const auto after = Contents(folder.Path());
    EXPECT_EQ(after, Expected(before, moves));
    EXPECT_EQ(Checksums(after), Checksums(before));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, TwoPhaseMoves,
    testing::Values(
        Case{"Swap", {"a.jpg", "b.jpg"}, {"b.jpg", "a.jpg"}},
        Case{"Rotation",
             {"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"},
             {"p2.jpg", "p3.jpg", "p4.jpg", "p1.jpg"}},
        Case{"ShiftByOne", Numbered("trip", 1, 40), Numbered("trip", 2, 40)},
        Case{"ShiftBack", Numbered("trip", 2, 40), Numbered("trip", 1, 40)},
        Case{"LetterCaseOnly", {"Photo1.JPG", "photo2.JPG"}, {"photo1.JPG", "Photo2.JPG"}},
        Case{"UnchangedNamesStay", {"x1.gif", "b.gif"}, {"x1.gif", "x2.gif"}},
        Case{"ThousandReversed", Numbered("f", 1, 1000), Reversed(Numbered("f", 1, 1000))}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// b.jpg -> c.jpg, c.jpg -> x.jpg with x.jpg a file outside the set, and a.jpg -> y.jpg with
// y.jpg held too, a.jpg still free: c.jpg can neither take x.jpg nor go back to its old name,
// which b.jpg has by then, so it keeps its temporary name; a.jpg goes back to its own.
struct ForeignFolder {
    test::TempFolder folder;
    std::vector<TMove> moves{{"b.jpg", "c.jpg"}, {"c.jpg", "x.jpg"}, {"a.jpg", "y.jpg"}};
    ForeignFolder() { WriteFiles(folder.Path(), {"a.jpg", "b.jpg", "c.jpg", "x.jpg", "y.jpg"}); }
};

TEST(TwoPhaseRename, ForeignFileHoldingANewNameFailsThatPositionOnly) {
    ForeignFolder f;
    const auto before = Contents(f.folder.Path());
    const auto outcomes = RunTwoPhaseRename(f.folder.Path(), f.moves);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].place, TPlace::kTarget);
    EXPECT_EQ(outcomes[1].place, TPlace::kTemporary);
    EXPECT_TRUE(outcomes[1].targetTaken);
    EXPECT_TRUE(outcomes[1].nameNow.startsWith(".sorowa-"));
    EXPECT_EQ(outcomes[2].place, TPlace::kBack);
    EXPECT_EQ(outcomes[2].nameNow, "a.jpg");
    const auto after = Contents(f.folder.Path());
    EXPECT_EQ(after.at("c.jpg"), before.at("b.jpg"));
    EXPECT_EQ(after.at(outcomes[1].nameNow), before.at("c.jpg"));
    EXPECT_EQ(after.at("x.jpg"), before.at("x.jpg"));
    EXPECT_EQ(after.at("y.jpg"), before.at("y.jpg"));
    EXPECT_EQ(after.at("a.jpg"), before.at("a.jpg"));
    EXPECT_EQ(Checksums(after), Checksums(before));
}

TEST(TwoPhaseRename, ReadOnlyFolderChangesNothing) {
    test::TempFolder folder;
    test::TmpfsMount mount(platform::EncodeFileName(folder.Path()));
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    WriteFiles(folder.Path(), {"a.jpg", "b.jpg"});
    ASSERT_TRUE(mount.MakeReadOnly());
    const auto before = Contents(folder.Path());
    EXPECT_THROW(RunTwoPhaseRename(folder.Path(), {{"a.jpg", "b.jpg"}, {"b.jpg", "a.jpg"}}),
                 Exception);
    EXPECT_EQ(Contents(folder.Path()), before);
}

// A picture and its sidecar in one group each; the second group's sidecar finds its new name
// taken: the whole group stays under its old names, the first group moves.
struct GroupedFolder {
    test::TempFolder folder;
    std::vector<TMove> moves{{"a.jpg", "b.jpg", {}, 0},
                             {"a.xmp", "b.xmp", {}, 0},
                             {"c.jpg", "d.jpg", {}, 1},
                             {"c.xmp", "d.xmp", {}, 1}};
    GroupedFolder() { WriteFiles(folder.Path(), {"a.jpg", "a.xmp", "c.jpg", "c.xmp", "d.xmp"}); }
};

TEST(TwoPhaseRename, GroupMovesTogetherOrNotAtAll) {
    GroupedFolder f;
    const auto before = Contents(f.folder.Path());
    const auto outcomes = RunTwoPhaseRename(f.folder.Path(), f.moves);
    std::vector<QString> names;
    for (const TMoveOutcome& outcome : outcomes)
        names.push_back(outcome.nameNow);
    EXPECT_EQ(names, (std::vector<QString>{"b.jpg", "b.xmp", "c.jpg", "c.xmp"}));
    EXPECT_TRUE(outcomes[2].heldBack);
    EXPECT_TRUE(outcomes[3].targetTaken);
    EXPECT_EQ(Contents(f.folder.Path()).at("d.xmp"), before.at("d.xmp"));
    EXPECT_EQ(Checksums(Contents(f.folder.Path())), Checksums(before));
}

struct SimulatedCrash {};

// The program dies after step number crashAt of a rename; the folder is then opened again and
// the user finishes or rolls back. From every step, the folder must end as the uninterrupted
// rename leaves it (finish), or as it was (roll back), with every content still there and no
// journal.
template <typename Folder> void CheckCrashAfterAnyStep() {
    std::map<QString, QByteArray> original;
    std::map<QString, QByteArray> finished;
    int steps = 0;
    {
        Folder f;
        original = Contents(f.folder.Path());
        TTwoPhaseOptions counting;
        counting.afterStep = [&](TRenameStep, int) { ++steps; };
        RunTwoPhaseRename(f.folder.Path(), f.moves, counting);
        finished = WithTemporaryNamesAlike(Contents(f.folder.Path()));
    }
    ASSERT_GT(steps, 8);
    for (const bool finish : {true, false}) {
        for (int crashAt = 0; crashAt < steps; ++crashAt) {
            SCOPED_TRACE(testing::Message()
                         << (finish ? "finish" : "roll back") << ", crash after step " << crashAt);
            Folder f;
            TTwoPhaseOptions crashing;
            int step = 0;
            crashing.afterStep = [&](TRenameStep, int) {
                if (step++ == crashAt) throw SimulatedCrash{};
            };
            EXPECT_THROW(RunTwoPhaseRename(f.folder.Path(), f.moves, crashing), SimulatedCrash);
            int questions = 0;
            QStringList reports;
            RecoverInterruptedRename(f.folder.Path(),
                                     {[&](const QString&, const QString&) {
                                          ++questions;
                                          return finish ? TRecoveryChoice::kFinish
                                                        : TRecoveryChoice::kRollBack;
                                      },
                                      [&](const QString& text) { reports << text; }});
            const auto after = Contents(f.folder.Path());
            EXPECT_EQ(Checksums(after), Checksums(original));
            const bool nothingMoved = crashAt == 0;
            const bool allDone = crashAt == steps - 1;
            EXPECT_EQ(questions, nothingMoved || allDone ? 0 : 1);
            if (nothingMoved || (!finish && !allDone)) {
                EXPECT_EQ(after, original);
            } else {
                EXPECT_EQ(WithTemporaryNamesAlike(after), finished);
            }
        }
    }
}

TEST(TwoPhaseRename, CrashAfterAnyStepIsFinishedOrRolledBack) {
    CheckCrashAfterAnyStep<ForeignFolder>();
    CheckCrashAfterAnyStep<GroupedFolder>();
}

// The recovery itself dies after any of its steps: the next opening, with the same answer,
// still ends with the user's new names (finish) or the names before (roll back).
TEST(TwoPhaseRename, RecoveryCutShortIsRecoveredTheSameWay) {
    std::map<QString, QByteArray> original;
    std::map<QString, QByteArray> finished;
    {
        ForeignFolder f;
        original = Contents(f.folder.Path());
        RunTwoPhaseRename(f.folder.Path(), f.moves);
        finished = WithTemporaryNamesAlike(Contents(f.folder.Path()));
    }
    auto crashAfter = [](int crashAt) {
        TTwoPhaseOptions options;
        options.afterStep = [crashAt, step = 0](TRenameStep, int) mutable {
            if (step++ == crashAt) throw SimulatedCrash{};
        };
        return options;
    };
    for (const bool finish : {true, false}) {
        for (int crashAt = 0;; ++crashAt) {
            SCOPED_TRACE(testing::Message() << (finish ? "finish" : "roll back")
                                            << ", recovery cut after step " << crashAt);
            ForeignFolder f;
            EXPECT_THROW(RunTwoPhaseRename(f.folder.Path(), f.moves, crashAfter(5)),
                         SimulatedCrash); // after the first final move
            const platform::FolderHandle folder(f.folder.Path());
            const TJournalRead read = ReadRenameJournal(folder);
            ASSERT_EQ(read.status, TJournalRead::Status::kFound) << read.reason.toStdString();
            bool cut = false;
            try {
                ResumeRename(folder, read.pending, finish, crashAfter(crashAt));
            } catch (const SimulatedCrash&) {
                cut = true;
            }
            RecoverInterruptedRename(f.folder.Path(), {[&](const QString&, const QString&) {
                                                           return finish
                                                                      ? TRecoveryChoice::kFinish
                                                                      : TRecoveryChoice::kRollBack;
                                                       },
                                                       [](const QString&) {}});
            const auto after = Contents(f.folder.Path());
            EXPECT_EQ(Checksums(after), Checksums(original));
            if (finish) {
                EXPECT_EQ(WithTemporaryNamesAlike(after), finished);
            } else {
                EXPECT_EQ(after, original);
            }
            if (!cut) break;
        }
    }
}

// ---- a renumbering killed for real ---------------------------------------------------------

constexpr int kKilledFiles = 5000;
constexpr char kChildFolder[] = "SOROWA_KILLED_RENUMBER_FOLDER";
constexpr char kChildStep[] = "SOROWA_KILLED_RENUMBER_STEP";

std::vector<TMove> ReversalOf(const QStringList& names) {
    return Moves(names, Reversed(names));
}

// Run by the test below as a process of its own: renumbers the folder and says when it has
// passed the given step, going on until it is killed.
TEST(KilledRenumbering, Child) {
    if (!qEnvironmentVariableIsSet(kChildFolder)) GTEST_SKIP() << "run by RecoveredAtNextOpening";
    const int announceAt = qEnvironmentVariableIntValue(kChildStep);
    TTwoPhaseOptions options;
    int step = 0;
    options.afterStep = [&](TRenameStep, int) {
        if (++step == announceAt) std::fprintf(stdout, "passed\n"), std::fflush(stdout);
    };
    RunTwoPhaseRename(qEnvironmentVariable(kChildFolder),
                      ReversalOf(Numbered("trip", 1, kKilledFiles)), options);
}

// 5,000 files reversed, the process killed (SIGKILL) in the first or the second phase; the
// next opening finishes or rolls back, and every file is where it belongs.
TEST(KilledRenumbering, RecoveredAtNextOpening) {
    const QStringList names = Numbered("trip", 1, kKilledFiles);
    for (const auto& [announceAt, finish] : {std::pair{2500, false}, std::pair{7500, true}}) {
        SCOPED_TRACE(announceAt);
        test::TempFolder folder;
        WriteFiles(folder.Path(), names);
        const auto before = Contents(folder.Path());
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildFolder, folder.Path());
        environment.insert(kChildStep, QString::number(announceAt));
        child.setProcessEnvironment(environment);
        child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=KilledRenumbering.Child"});
        ASSERT_TRUE(child.waitForStarted());
        bool passed = false; // the test framework writes its own lines first
        while (!passed && (child.canReadLine() || child.waitForReadyRead(60000)))
            passed = child.readLine() == "passed\n";
        ASSERT_TRUE(passed);
        child.kill(); // our own child, by its id
        ASSERT_TRUE(child.waitForFinished());
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit)
            << "the renumbering ended before the kill";
        ASSERT_EQ(ReadRenameJournal(platform::FolderHandle(folder.Path())).status,
                  TJournalRead::Status::kFound);

        QStringList reports;
        RecoverInterruptedRename(folder.Path(), {[finish = finish](const QString&, const QString&) {
                                                     return finish ? TRecoveryChoice::kFinish
                                                                   : TRecoveryChoice::kRollBack;
                                                 },
                                                 [&](const QString& text) { reports << text; }});
        EXPECT_TRUE(reports.isEmpty());
        const auto after = Contents(folder.Path());
        EXPECT_EQ(after, finish ? Expected(before, ReversalOf(names)) : before);
    }
}

// ---- FAT: letter case is not a difference of names -----------------------------------------

class FatTwoPhase : public testing::Test {
protected:
    static void SetUpTestSuite() { volume_ = test::FatVolume::Mount(whyNot_).release(); }
    static void TearDownTestSuite() {
        delete volume_; // NOLINT: a suite-wide fixture, unmounted here
        volume_ = nullptr;
    }
    void SetUp() override {
        if (!volume_) GTEST_SKIP() << "no FAT volume can be mounted here: " << whyNot_;
        folder_ = platform::DecodeFileName(volume_->Root()) + u'/' +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(QDir().mkdir(folder_));
    }
    static test::FatVolume* volume_;
    static std::string whyNot_;
    QString folder_;
};
test::FatVolume* FatTwoPhase::volume_ = nullptr;
std::string FatTwoPhase::whyNot_;

TEST_F(FatTwoPhase, NamesDifferingInLetterCaseOnlyAreRenumbered) {
    // Old names that are new names of others once letter case is ignored, and a case-only change.
    WriteFiles(folder_, {"Trip2.jpg", "trip1.jpg", "TRIP3.JPG"});
    const auto before = Contents(folder_);
    const std::vector<TMove> moves{
        {"Trip2.jpg", "trip1.jpg"}, {"trip1.jpg", "trip2.jpg"}, {"TRIP3.JPG", "trip3.JPG"}};
    const auto outcomes = RunTwoPhaseRename(folder_, moves);
    for (const TMoveOutcome& outcome : outcomes)
        EXPECT_EQ(outcome.place, TPlace::kTarget) << outcome.nameNow.toStdString();
    const auto after = Contents(folder_);
    EXPECT_EQ(after, Expected(before, moves));
    EXPECT_EQ(Checksums(after), Checksums(before));
}

} // namespace
