// A journal in a folder that came from somewhere else is a stranger's data. Each hostile
// journal here is refused with a message naming it; whichever answer the user would give,
// nothing inside or outside the folder changes, the journal included. Also: the folder is
// reached through one descriptor, so a folder swapped for a link in the middle of a rename
// keeps every move inside the folder that was opened.
#include "platform/file_names.h"
#include "platform/folder_handle.h"
#include "rename/rename_journal.h"
#include "rename/rename_recovery.h"
#include "rename/two_phase_rename.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorowa;

namespace {

constexpr char kToken[] = "0123456789abcdef";

std::string Hex(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toHex().toStdString();
}

std::string Temporary(int index) {
    return std::string(".sorowa-") + kToken + '-' + std::to_string(index);
}

// One plan line; back defaults to from.
std::string Move(const std::string& from, const std::string& to, int index,
                 const std::string& temporary = {}, std::string back = {}) {
    if (back.empty()) back = from;
    return "M " + Hex(from) + ' ' + Hex(temporary.empty() ? Temporary(index) : temporary) + ' ' +
           Hex(to) + ' ' + Hex(back) + '\n';
}

constexpr char kHeader[] = "sorowa-rename-journal 1\n";

// A valid journal of a rotation a -> b -> c -> a cut after the first final move.
std::string RotationJournal() {
    return kHeader + Move("a.jpg", "b.jpg", 0) + Move("b.jpg", "c.jpg", 1) +
           Move("c.jpg", "a.jpg", 2) + "E\nT 0 2\n";
}

// A home folder with files that must never move, and the picture folder inside it.
class HostileFolder {
public:
    HostileFolder() {
        QDir(root_.Path()).mkpath(QStringLiteral("pics/sub"));
        QDir(root_.Path()).mkpath(QStringLiteral(".ssh"));
        QDir(root_.Path()).mkpath(QStringLiteral(".config/autostart"));
        root_.Write(QStringLiteral(".ssh/id_ed25519"), "secret key");
        root_.Write(QStringLiteral("Documents.txt"), "documents");
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            root_.Write(QStringLiteral("pics/") + name, std::string("picture ") + name);
        ::symlink("../.config", Bytes("pics/cfg").c_str());
        ::symlink("../.ssh/id_ed25519", Bytes("pics/key.jpg").c_str());
    }
    QString Folder() const { return root_.File(QStringLiteral("pics")); }
    std::string Bytes(const std::string& relative) const {
        return platform::EncodeFileName(root_.Path()) + '/' + relative;
    }
    void WriteJournal(const std::string& text) const {
        root_.Write(QStringLiteral("pics/") + kRenameJournalName, text);
    }
    std::string JournalPath() const { return Bytes(std::string("pics/") + kRenameJournalName); }

    // Every entry under the home folder: its kind and, for files and links, content or target.
    std::map<std::string, std::string> Snapshot() const { return Walk(Bytes(""), ""); }

private:
    static std::map<std::string, std::string> Walk(const std::string& base,
                                                   const std::string& relative) {
        std::map<std::string, std::string> entries;
        const QDir dir(platform::DecodeFileName(base + relative));
        for (const QString& name :
             dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            const std::string path = relative + platform::EncodeFileName(name);
            const std::string full = base + path;
            struct stat info {};
            ::lstat(full.c_str(), &info);
            if (S_ISLNK(info.st_mode)) {
                char target[4096] = {};
                ::readlink(full.c_str(), target, sizeof target - 1);
                entries[path] = std::string("link ") + target;
            } else if (S_ISDIR(info.st_mode)) {
                entries[path] = "folder";
                entries.merge(Walk(base, path + '/'));
            } else if (S_ISREG(info.st_mode) && info.st_size < 4096) {
                entries[path] = test::ReadFileBytes(platform::DecodeFileName(full)).toStdString();
            } else {
                entries[path] = "special " + std::to_string(info.st_mode & S_IFMT) + ' ' +
                                std::to_string(info.st_size);
            }
        }
        return entries;
    }

    test::TempFolder root_;
};

struct HostileCase {
    const char* name;
    std::function<void(HostileFolder&)> plant;
};

const std::vector<HostileCase>& HostileCases() {
    static const std::vector<HostileCase> cases = {
        {"name out of the folder with ..",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "../.config/autostart/evil.desktop", 0) +
                            "E\nT 0 0\n");
         }},
        {"name through a linked entry",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "cfg/autostart/x", 0) + "E\nT 0 0\n");
         }},
        {"outside file pulled in",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("../.ssh/id_ed25519", "stolen.jpg", 0) +
                            Move("../Documents.txt", "docs.jpg", 1) + "E\n");
         }},
        {"linked entry moved in place of a picture",
         [](HostileFolder& f) { f.WriteJournal(kHeader + Move("key.jpg", "z.jpg", 0) + "E\n"); }},
        {"folder moved",
         [](HostileFolder& f) { f.WriteJournal(kHeader + Move("sub", "z", 0) + "E\n"); }},
        {"dot", [](HostileFolder& f) { f.WriteJournal(kHeader + Move(".", "z.jpg", 0) + "E\n"); }},
        {"empty name",
         [](HostileFolder& f) { f.WriteJournal(kHeader + Move("a.jpg", "", 0) + "E\nT 0 0\n"); }},
        {"NUL in a name",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", std::string("z\0.jpg", 6), 0) + "E\nT 0 0\n");
         }},
        {"the journal as an entry",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", kRenameJournalName, 0) + "E\nT 0 0\n");
         }},
        {"not our temporary name",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "z.jpg", 0, "b.jpg") + "E\nT 0 0\n");
         }},
        {"temporaries of two renames",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "y.jpg", 0) +
                            Move("b.jpg", "z.jpg", 1, ".sorowa-fedcba9876543210-1") + "E\n");
         }},
        {"one new name twice",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "z.jpg", 0) + Move("b.jpg", "z.jpg", 1) +
                            "E\n");
         }},
        {"hex that is no hex",
         [](HostileFolder& f) {
             f.WriteJournal(std::string(kHeader) + "M 612e6a7067 " + Hex(Temporary(0)) +
                            " 2g2e6a7067 612e6a7067\nE\n");
         }},
        {"intent for no entry",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("a.jpg", "z.jpg", 0) + "E\nT 0 7\n");
         }},
        {"unknown line", [](HostileFolder& f) { f.WriteJournal(RotationJournal() + "X 1\n"); }},
        {"plan without its end",
         [](HostileFolder& f) { f.WriteJournal(kHeader + Move("a.jpg", "z.jpg", 0)); }},
        {"not a journal", [](HostileFolder& f) { f.WriteJournal("hello\n"); }},
        {"file that is not there",
         [](HostileFolder& f) {
             f.WriteJournal(kHeader + Move("gone.jpg", "z.jpg", 0) + Move("a.jpg", "y.jpg", 1) +
                            "E\nT 0 1\n");
         }},
        {"journal is a link to a journal elsewhere",
         [](HostileFolder& f) {
             const std::string elsewhere = f.Bytes("journal-elsewhere");
             const std::string text = RotationJournal();
             const int fd = ::open(elsewhere.c_str(), O_WRONLY | O_CREAT, 0600);
             ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
             ::close(fd);
             ::symlink("../journal-elsewhere", f.JournalPath().c_str());
         }},
        {"journal is a folder", [](HostileFolder& f) { ::mkdir(f.JournalPath().c_str(), 0700); }},
        {"journal is a FIFO", [](HostileFolder& f) { ::mkfifo(f.JournalPath().c_str(), 0600); }},
        {"journal of 3 GB, sparse",
         [](HostileFolder& f) {
             const int fd = ::open(f.JournalPath().c_str(), O_WRONLY | O_CREAT, 0600);
             const std::string text = RotationJournal();
             ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
             ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
             ::close(fd);
         }},
        {"journal of another user",
         [](HostileFolder& f) {
             f.WriteJournal(RotationJournal());
             if (::geteuid() == 0) {
                 ASSERT_EQ(::chown(f.JournalPath().c_str(), 65534, 65534), 0);
             }
         }},
    };
    return cases;
}

TEST(HostileJournal, IsRefusedAndChangesNothingWhateverTheAnswer) {
    for (const TRecoveryChoice answer :
         {TRecoveryChoice::kFinish, TRecoveryChoice::kRollBack, TRecoveryChoice::kLeave}) {
        for (const HostileCase& hostile : HostileCases()) {
            if (std::string(hostile.name) == "journal of another user" && ::geteuid() != 0)
                continue; // only root can give a file away
            SCOPED_TRACE(testing::Message() << hostile.name << ", answer " << int(answer));
            HostileFolder f;
            hostile.plant(f);
            const auto before = f.Snapshot();
            bool asked = false;
            QStringList reports;
            QElapsedTimer timer;
            timer.start();
            RecoverInterruptedRename(f.Folder(), {[&](const QString&, const QString&) {
                                                      asked = true;
                                                      return answer;
                                                  },
                                                  [&](const QString& text) { reports << text; }});
            EXPECT_LT(timer.elapsed(), 5000);
            EXPECT_FALSE(asked);
            EXPECT_EQ(f.Snapshot(), before);
            ASSERT_EQ(reports.size(), 1);
            EXPECT_TRUE(reports[0].contains(f.Folder() + u'/' + kRenameJournalName))
                << reports[0].toStdString();
        }
    }
}

// The sparse 3 GB journal is refused from its size alone: no more memory than a small one.
TEST(HostileJournal, HugeJournalIsNotRead) {
    HostileFolder f;
    const int fd = ::open(f.JournalPath().c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
    ::close(fd);
    const TJournalRead read = ReadRenameJournal(platform::FolderHandle(f.Folder()));
    EXPECT_EQ(read.status, TJournalRead::Status::kRefused);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "kB";
}

// What the user is asked about: every move of the rename cut short; leaving it changes nothing.
TEST(RecoveryQuestion, ListsEveryMoveAndLeavingChangesNothing) {
    HostileFolder f;
    // The first file reached its new name, which the second file left: a rotation cut short.
    ASSERT_EQ(::rename(f.Bytes("pics/b.jpg").c_str(), f.Bytes("pics/" + Temporary(1)).c_str()), 0);
    ASSERT_EQ(::rename(f.Bytes("pics/a.jpg").c_str(), f.Bytes("pics/b.jpg").c_str()), 0);
    ASSERT_EQ(::rename(f.Bytes("pics/c.jpg").c_str(), f.Bytes("pics/" + Temporary(2)).c_str()), 0);
    f.WriteJournal(RotationJournal());
    const auto before = f.Snapshot();
    QString question;
    QString shown;
    QStringList reports;
    RecoverInterruptedRename(f.Folder(), {[&](const QString& text, const QString& moves) {
                                              question = text;
                                              shown = moves;
                                              return TRecoveryChoice::kLeave;
                                          },
                                          [&](const QString& text) { reports << text; }});
    EXPECT_TRUE(question.contains(QStringLiteral("3 個のファイル"))) << question.toStdString();
    EXPECT_EQ(shown, QStringLiteral("a.jpg → b.jpg\nb.jpg → c.jpg\nc.jpg → a.jpg"));
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(f.Snapshot(), before);
}

// A FIFO left where the journal is first written would block the open for ever.
TEST(RenameJournal, StaleFileInTheWritingPlaceIsReplacedNotOpened) {
    for (const bool fifo : {true, false}) {
        test::TempFolder folder;
        folder.Write(QStringLiteral("a.jpg"), "a");
        folder.Write(QStringLiteral("b.jpg"), "b");
        const std::string stale =
            platform::EncodeFileName(folder.File(kRenameJournalName)) + ".new";
        if (fifo) {
            ASSERT_EQ(::mkfifo(stale.c_str(), 0600), 0);
        } else {
            ASSERT_EQ(::symlink("/nonexistent/elsewhere", stale.c_str()), 0);
        }
        const auto outcomes =
            RunTwoPhaseRename(folder.Path(), {{"a.jpg", "b.jpg"}, {"b.jpg", "a.jpg"}});
        ASSERT_EQ(outcomes.size(), 2u);
        EXPECT_EQ(test::ReadFileBytes(folder.File("a.jpg")), "b");
        EXPECT_EQ(test::ReadFileBytes(folder.File("b.jpg")), "a");
        EXPECT_EQ(
            QDir(folder.Path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList({"a.jpg", "b.jpg"}));
    }
}

// The folder is moved away and a link to a decoy folder put in its place after the first
// move: every later move, the journal and its removal still happen in the folder opened.
TEST(TwoPhaseRename, FolderSwappedForALinkMidwayKeepsEveryMoveInTheOpenedFolder) {
    test::TempFolder root;
    QDir(root.Path()).mkpath(QStringLiteral("pics"));
    QDir(root.Path()).mkpath(QStringLiteral("decoy"));
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        root.Write(QStringLiteral("pics/") + name, std::string("picture ") + name);
    root.Write(QStringLiteral("decoy/a.jpg"), "decoy");
    const std::string pics = platform::EncodeFileName(root.File("pics"));
    TTwoPhaseOptions options;
    bool swapped = false;
    options.afterStep = [&](TRenameStep step, int) {
        if (step != TRenameStep::kMovedToTemporary || swapped) return;
        swapped = true;
        ASSERT_EQ(::rename(pics.c_str(), (pics + "-moved").c_str()), 0);
        ASSERT_EQ(::symlink("decoy", pics.c_str()), 0);
    };
    const auto outcomes = RunTwoPhaseRename(
        root.File("pics"), {{"a.jpg", "b.jpg"}, {"b.jpg", "c.jpg"}, {"c.jpg", "a.jpg"}}, options);
    ASSERT_TRUE(swapped);
    for (const TMoveOutcome& outcome : outcomes)
        EXPECT_EQ(outcome.place, TPlace::kTarget);
    const QDir moved(root.File("pics-moved"));
    EXPECT_EQ(moved.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(test::ReadFileBytes(moved.filePath("b.jpg")), "picture a.jpg");
    EXPECT_EQ(test::ReadFileBytes(moved.filePath("a.jpg")), "picture c.jpg");
    EXPECT_EQ(
        QDir(root.File("decoy")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({"a.jpg"}));
    EXPECT_EQ(test::ReadFileBytes(root.File("decoy/a.jpg")), "decoy");
}

} // namespace
