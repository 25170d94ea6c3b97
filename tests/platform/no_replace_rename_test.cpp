// The no-replace rename on real files: whatever holds the new name survives, on every route
// the rename can take (renameat2, link + unlink, exclusive placeholder), in a race with another
// thread, on a read-only mount and on a FAT volume.
#include "platform/file_names.h"
#include "platform/rename.h"
#include "support/mounts.h"
#include "support/temp_folder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sorowa::platform {
namespace {

using sorowa::test::FatVolume;
using sorowa::test::TempFolder;
using sorowa::test::TmpfsMount;

// ---- files as bytes ---------------------------------------------------------------------

void WriteRaw(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Contents of a regular file; "<missing>" when it cannot be opened.
std::string ReadRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "<missing>";
    std::string bytes;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, std::size_t(got));
    ::close(fd);
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(dir);
    return names;
}

// Everything a rename could disturb: kind, content checksum, inode and change time of each
// entry, recursively. Equal snapshots mean nothing was replaced, moved, written or touched.
struct EntryState {
    char kind = '?';
    QByteArray checksum;
    std::string linkTarget;
    ino_t inode = 0;
    timespec changed{};
    bool operator==(const EntryState& o) const {
        return kind == o.kind && checksum == o.checksum && linkTarget == o.linkTarget &&
               inode == o.inode && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};
using Snapshot = std::map<std::string, EntryState>;

void TakeSnapshot(const std::string& folder, const std::string& prefix, Snapshot& out) {
    for (const std::string& name : Names(folder)) {
        const std::string path = folder + '/' + name;
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EntryState state;
        state.inode = info.st_ino;
        state.changed = info.st_ctim;
        if (S_ISREG(info.st_mode)) {
            state.kind = 'f';
            state.checksum = QCryptographicHash::hash(QByteArray::fromStdString(ReadRaw(path)),
                                                      QCryptographicHash::Sha256);
        } else if (S_ISLNK(info.st_mode)) {
            state.kind = 'l';
            char target[4096];
            const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
            state.linkTarget.assign(target, std::size_t(std::max<ssize_t>(length, 0)));
        } else if (S_ISDIR(info.st_mode)) {
            state.kind = 'd';
            TakeSnapshot(path, prefix + name + '/', out);
        }
        out[prefix + name] = state;
    }
}

Snapshot TakeSnapshot(const std::string& folder) {
    Snapshot snapshot;
    TakeSnapshot(folder, "", snapshot);
    return snapshot;
}

QString Q(const std::string& bytes) {
    return DecodeFileName(bytes);
}

void RemoveContents(const std::string& folder) {
    for (const std::string& name : Names(folder)) {
        const std::string path = folder + '/' + name;
        if (::unlink(path.c_str()) != 0) {
            RemoveContents(path);
            ::rmdir(path.c_str());
        }
    }
}

// ---- routes -----------------------------------------------------------------------------

// Which route a test forces, by having the earlier system calls refuse as FAT does.
enum class Forced { kNone, kLinkRoute, kPlaceholderRoute };

int AnswerEinval(int, const char*, const char*) {
    errno = EINVAL;
    return -1;
}
int AnswerEperm(int, const char*, const char*) {
    errno = EPERM;
    return -1;
}

RenameSystemCalls CallsFor(Forced forced) {
    RenameSystemCalls calls = DefaultRenameSystemCalls();
    if (forced != Forced::kNone) calls.renameNoReplace = AnswerEinval;
    if (forced == Forced::kPlaceholderRoute) calls.link = AnswerEperm;
    return calls;
}

RenameRoute RouteOf(Forced forced) {
    switch (forced) {
    case Forced::kNone:
        return RenameRoute::kRenameNoReplace;
    case Forced::kLinkRoute:
        return RenameRoute::kLinkUnlink;
    case Forced::kPlaceholderRoute:
        return RenameRoute::kReservation;
    }
    return RenameRoute::kNothingDone;
}

std::string ForcedName(const testing::TestParamInfo<Forced>& info) {
    switch (info.param) {
    case Forced::kNone:
        return "RenameNoReplace";
    case Forced::kLinkRoute:
        return "LinkUnlink";
    case Forced::kPlaceholderRoute:
        return "Placeholder";
    }
    return "Unknown";
}

class RenameRoutes : public testing::TestWithParam<Forced> {
protected:
    RenameResult Rename(const std::string& from, const std::string& to) {
        return RenameFileNoReplace(Q(from), Q(to), CallsFor(GetParam()));
    }
    std::string Path(const std::string& name) const { return folder_ + '/' + name; }
    // QTemporaryDir cannot remove names that are not UTF-8: Qt's listing skips them.
    void TearDown() override { RemoveContents(EncodeFileName(temp_.Path())); }

    TempFolder temp_;
    std::string folder_ = EncodeFileName(temp_.Path());
};

TEST_P(RenameRoutes, MovesTheFileToAFreeName) {
    WriteRaw(Path("b.JPG"), "picture bytes");
    const RenameResult result = Rename(Path("b.JPG"), Path("photo001.JPG"));
    EXPECT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.route, RouteOf(GetParam()));
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"photo001.JPG"}));
    EXPECT_EQ(ReadRaw(Path("photo001.JPG")), "picture bytes");
}

TEST_P(RenameRoutes, NeverReplacesAFileAFolderOrALink) {
    struct Case {
        const char* what;
        std::function<void(const std::string& target)> make;
    };
    const std::vector<Case> cases = {
        {"file", [](const std::string& t) { WriteRaw(t, "the other file"); }},
        {"empty file", [](const std::string& t) { WriteRaw(t, ""); }},
        {"folder",
         [](const std::string& t) {
             ASSERT_EQ(::mkdir(t.c_str(), 0755), 0);
             WriteRaw(t + "/inside.jpg", "inside");
         }},
        {"empty folder", [](const std::string& t) { ASSERT_EQ(::mkdir(t.c_str(), 0755), 0); }},
        {"symlink to a file",
         [this](const std::string& t) {
             WriteRaw(Path("elsewhere.jpg"), "elsewhere");
             ASSERT_EQ(::symlink("elsewhere.jpg", t.c_str()), 0);
         }},
        {"symlink to the source",
         [](const std::string& t) { ASSERT_EQ(::symlink("a.jpg", t.c_str()), 0); }},
        {"dangling symlink",
         [](const std::string& t) { ASSERT_EQ(::symlink("nowhere.jpg", t.c_str()), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        folder_ = EncodeFileName(temp.Path());
        WriteRaw(Path("a.jpg"), "my picture");
        c.make(Path("b.jpg"));
        const Snapshot before = TakeSnapshot(folder_);
        const RenameResult result = Rename(Path("a.jpg"), Path("b.jpg"));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, EEXIST) << std::strerror(result.error);
        EXPECT_FALSE(result.sourceMissing);
        EXPECT_EQ(TakeSnapshot(folder_), before); // no placeholder left, nothing touched
    }
}

TEST_P(RenameRoutes, SameNameSucceedsWithoutTouchingTheFile) {
    WriteRaw(Path("a.jpg"), "my picture");
    const Snapshot before = TakeSnapshot(folder_);
    RenameResult result = Rename(Path("a.jpg"), Path("a.jpg"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.route, RenameRoute::kNothingDone);
    // A folder that is the file-system root gives "//" in the joined path: still the same file.
    result = Rename(folder_ + "//a.jpg", Path("a.jpg"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.route, RenameRoute::kNothingDone);
    EXPECT_EQ(TakeSnapshot(folder_), before); // change time included
}

TEST_P(RenameRoutes, MissingSourceIsReportedAndLeavesNothingBehind) {
    WriteRaw(Path("other.jpg"), "unrelated");
    const Snapshot before = TakeSnapshot(folder_);
    for (const std::string& to : {std::string("b.jpg"), std::string("gone.jpg")}) {
        const RenameResult result = Rename(Path("gone.jpg"), Path(to));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, ENOENT) << std::strerror(result.error);
        EXPECT_TRUE(result.sourceMissing);
    }
    EXPECT_EQ(TakeSnapshot(folder_), before);
}

TEST_P(RenameRoutes, TooLongNamesFailAndKeepTheSource) {
    WriteRaw(Path("a.jpg"), "my picture");
    const Snapshot before = TakeSnapshot(folder_);
    std::string longPath = folder_ + '/';
    for (int i = 0; i < 2100; ++i)
        longPath += "./"; // more than PATH_MAX bytes in all
    for (const std::string& to : {Path(std::string(300, 'x') + ".jpg"), longPath + "b.jpg"}) {
        const RenameResult result = Rename(Path("a.jpg"), to);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, ENAMETOOLONG) << std::strerror(result.error);
        EXPECT_FALSE(result.sourceMissing);
    }
    EXPECT_EQ(TakeSnapshot(folder_), before);
}

TEST_P(RenameRoutes, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string oldName = "\xff\xfe photo \x80.jpg";
    const std::string newName = "\xe5\x86\x99\xe7\x9c\x9f\xff\xc3.JPG"; // 写真, then stray bytes
    WriteRaw(Path(oldName), "raw bytes");
    const RenameResult result = Rename(Path(oldName), Path(newName));
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{newName}));
    EXPECT_EQ(ReadRaw(Path(newName)), "raw bytes");
}

// On a case-sensitive folder the other spelling is simply another name.
TEST_P(RenameRoutes, OtherLetterCaseOnACaseSensitiveFolder) {
    WriteRaw(Path("photo.JPG"), "mine");
    RenameResult result = Rename(Path("photo.JPG"), Path("PHOTO.JPG"));
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(result.route, RouteOf(GetParam()));
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"PHOTO.JPG"}));

    // A distinct file, or a second hard link of the same file, under the other spelling is
    // another entry: it stays, and so does the source.
    WriteRaw(Path("a.jpg"), "a");
    WriteRaw(Path("A.jpg"), "A");
    ASSERT_EQ(::link(Path("PHOTO.JPG").c_str(), Path("photo.jpg").c_str()), 0);
    const Snapshot before = TakeSnapshot(folder_);
    for (const auto& [from, to] :
         {std::pair{"a.jpg", "A.jpg"}, std::pair{"PHOTO.JPG", "photo.jpg"}}) {
        result = Rename(Path(from), Path(to));
        EXPECT_FALSE(result.ok) << from;
        EXPECT_EQ(result.error, EEXIST) << from;
    }
    EXPECT_EQ(TakeSnapshot(folder_), before);
}

// A folder has no hard links and cannot replace a placeholder file: only renameat2 moves it,
// the fallbacks fail and leave it as it was.
TEST_P(RenameRoutes, AFolderMovesOnlyWhereTheSystemRenamesIt) {
    ASSERT_EQ(::mkdir(Path("album.jpg").c_str(), 0755), 0);
    WriteRaw(Path("album.jpg/inside.jpg"), "inside");
    const Snapshot before = TakeSnapshot(folder_);
    const RenameResult result = Rename(Path("album.jpg"), Path("photo001.jpg"));
    if (GetParam() == Forced::kNone) {
        ASSERT_TRUE(result.ok) << std::strerror(result.error);
        EXPECT_EQ(ReadRaw(Path("photo001.jpg/inside.jpg")), "inside");
    } else {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, ENOTDIR) << std::strerror(result.error);
        EXPECT_FALSE(result.sourceMissing);
        EXPECT_EQ(TakeSnapshot(folder_), before);
    }
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, RenameRoutes,
                         testing::Values(Forced::kNone, Forced::kLinkRoute,
                                         Forced::kPlaceholderRoute),
                         ForcedName);

// ---- the gaps between two system calls ---------------------------------------------------
// Another program acts exactly between two calls of a fallback route; the injected call does
// what that program would do, then carries on.

std::function<int(const char*)> g_unlink;
std::function<int(const char*)> g_createExclusive;
std::function<int(const char*, const char*)> g_rename;

RenameSystemCalls Interfered(Forced forced) {
    RenameSystemCalls calls = CallsFor(forced);
    if (g_unlink) calls.unlink = [](int, const char* p) { return g_unlink(p); };
    if (g_createExclusive)
        calls.createExclusive = [](int, const char* p) { return g_createExclusive(p); };
    if (g_rename) calls.rename = [](int, const char* a, const char* b) { return g_rename(a, b); };
    return calls;
}

class RenameGaps : public testing::Test {
protected:
    void SetUp() override { WriteRaw(from_, "mine"); }
    void TearDown() override {
        g_unlink = nullptr;
        g_createExclusive = nullptr;
        g_rename = nullptr;
    }
    RenameResult Rename(Forced forced) {
        return RenameFileNoReplace(Q(from_), Q(to_), Interfered(forced));
    }

    TempFolder temp_;
    std::string folder_ = EncodeFileName(temp_.Path());
    std::string from_ = folder_ + "/a.jpg";
    std::string to_ = folder_ + "/b.jpg";
};

TEST_F(RenameGaps, UnlinkFailingAfterLinkTakesTheNewNameBack) {
    g_unlink = [this](const char* p) {
        if (from_ != p) return ::unlink(p);
        errno = EBUSY;
        return -1;
    };
    const RenameResult result = Rename(Forced::kLinkRoute);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EBUSY);
    EXPECT_FALSE(result.sourceMissing);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"a.jpg"}));
    EXPECT_EQ(ReadRaw(from_), "mine");
}

TEST_F(RenameGaps, UnlinkFailingAfterTheNewNameWasReplacedLeavesTheirFile) {
    g_unlink = [this](const char* p) {
        if (from_ != p) return ::unlink(p);
        WriteRaw(folder_ + "/theirs.tmp", "theirs");
        EXPECT_EQ(::rename((folder_ + "/theirs.tmp").c_str(), to_.c_str()), 0);
        errno = EIO;
        return -1;
    };
    const RenameResult result = Rename(Forced::kLinkRoute);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EIO);
    EXPECT_EQ(ReadRaw(from_), "mine");
    EXPECT_EQ(ReadRaw(to_), "theirs");
}

TEST_F(RenameGaps, SourceRemovedBetweenLinkAndUnlinkKeepsTheFileUnderTheNewName) {
    g_unlink = [](const char* p) {
        ::unlink(p); // the other program is first
        return ::unlink(p);
    };
    const RenameResult result = Rename(Forced::kLinkRoute);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"b.jpg"}));
    EXPECT_EQ(ReadRaw(to_), "mine");
}

TEST_F(RenameGaps, PlaceholderReplacedBeforeTheRenameIsLeftToItsOwner) {
    g_createExclusive = [this](const char* p) {
        const int fd = DefaultRenameSystemCalls().createExclusive(AT_FDCWD, p);
        ::unlink(p);
        WriteRaw(to_, "theirs");
        return fd;
    };
    const RenameResult result = Rename(Forced::kPlaceholderRoute);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EEXIST);
    EXPECT_EQ(ReadRaw(from_), "mine");
    EXPECT_EQ(ReadRaw(to_), "theirs");
}

TEST_F(RenameGaps, PlaceholderWrittenIntoBeforeTheRenameIsLeftToTheWriter) {
    mode_t placeholderMode = 0777;
    g_createExclusive = [&](const char* p) {
        const int fd = DefaultRenameSystemCalls().createExclusive(AT_FDCWD, p);
        struct stat info {};
        EXPECT_EQ(::fstat(fd, &info), 0);
        placeholderMode = info.st_mode & 07777;
        // A writer that opens the name without O_EXCL. Root passes the mode-0 guard.
        const int theirs = ::open(to_.c_str(), O_WRONLY);
        if (theirs >= 0) {
            EXPECT_EQ(::write(theirs, "theirs", 6), 6);
            ::close(theirs);
        }
        return fd;
    };
    const RenameResult result = Rename(Forced::kPlaceholderRoute);
    // No permission for anyone but root: a non-root writer gets EACCES instead of writing into
    // a file that is about to be replaced.
    EXPECT_EQ(placeholderMode, 0u);
    if (::geteuid() != 0) GTEST_SKIP() << "the writer could not open the placeholder (not root)";
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EEXIST);
    EXPECT_EQ(ReadRaw(from_), "mine");
    EXPECT_EQ(ReadRaw(to_), "theirs");
}

TEST_F(RenameGaps, FailedRenameOverThePlaceholderRemovesIt) {
    g_rename = [](const char*, const char*) {
        errno = EIO;
        return -1;
    };
    const RenameResult result = Rename(Forced::kPlaceholderRoute);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EIO);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"a.jpg"}));
    EXPECT_EQ(ReadRaw(from_), "mine");
}

TEST_F(RenameGaps, FailedRenameKeepsAFileThatReplacedThePlaceholder) {
    g_rename = [this](const char*, const char*) {
        ::unlink(to_.c_str());
        WriteRaw(to_, "theirs");
        errno = EIO;
        return -1;
    };
    const RenameResult result = Rename(Forced::kPlaceholderRoute);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(ReadRaw(from_), "mine");
    EXPECT_EQ(ReadRaw(to_), "theirs");
}

// ---- a race with another thread ----------------------------------------------------------

// Ways another program takes a name; all of them fail rather than replace.
enum class Claim { kCreateExclusive, kMkdir, kSymlink, kLink, kRenameNoReplace };

struct ClaimOutcome {
    bool ok = false;
    int error = 0;
};

ClaimOutcome Take(Claim claim, const std::string& premade, const std::string& target,
                  const std::string& content) {
    int rc = -1;
    switch (claim) {
    case Claim::kCreateExclusive: {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            rc = ::write(fd, content.data(), content.size()) == ssize_t(content.size()) ? 0 : -1;
            ::close(fd);
        }
        break;
    }
    case Claim::kMkdir:
        rc = ::mkdir(target.c_str(), 0755);
        break;
    case Claim::kSymlink:
        rc = ::symlink(content.c_str(), target.c_str());
        break;
    case Claim::kLink:
        rc = ::link(premade.c_str(), target.c_str());
        break;
    case Claim::kRenameNoReplace:
        rc = ::renameat2(AT_FDCWD, premade.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        break;
    }
    return {rc == 0, rc == 0 ? 0 : errno};
}

void Spin(int rounds) {
    std::atomic<int> counter{0};
    while (counter.fetch_add(1, std::memory_order_relaxed) < rounds) {
    }
}

// Who starts first, and by how much, changes from round to round: from nothing up to about
// the time one rename takes (a few microseconds locally).
int HeadStart(int round, int longest) {
    return round / 2 % 64 * (longest / 64);
}

// Busy-waits first, so that both threads leave the start line within a few hundred
// nanoseconds of each other, and yields only when the other thread is not running.
void WaitFor(const std::atomic<int>& counter, int round, const std::atomic<bool>* stop = nullptr) {
    for (long spins = 0; counter.load(std::memory_order_acquire) < round; ++spins) {
        if (stop && stop->load()) return;
        if (spins > 2000) std::this_thread::yield();
    }
}

struct RaceTally {
    int oursWon = 0;
    int theirsWon = 0;
};

// Each round: our rename of s to t against another thread taking t at the same moment, with
// a varying head start for either side. Exactly one side must get the name, and every byte
// of both sides must be where that outcome puts it.
RaceTally Race(const std::string& folder, const RenameSystemCalls& calls,
               const std::vector<Claim>& claims, int rounds, int longestHeadStart = 4000) {
    const std::string s = folder + "/s.jpg", t = folder + "/t.jpg", p = folder + "/p.jpg";
    // go: the round is set up; ready and set: each side has seen the other running.
    std::atomic<int> go{-1}, ready{-1}, set{-1}, done{-1};
    std::atomic<bool> stop{false};
    ClaimOutcome theirs;
    std::thread other([&] {
        for (int r = 0; r < rounds; ++r) {
            WaitFor(go, r, &stop);
            if (stop.load()) return;
            const Claim claim = claims[std::size_t(r) % claims.size()];
            const std::string content = "theirs " + std::to_string(r);
            ready.store(r, std::memory_order_release);
            WaitFor(set, r, &stop);
            if (r % 2 == 0) Spin(HeadStart(r, longestHeadStart));
            theirs = Take(claim, p, t, content);
            done.store(r, std::memory_order_release);
        }
    });
    RaceTally tally;
    const QString from = Q(s), to = Q(t);
    for (int r = 0; r < rounds; ++r) {
        const Claim claim = claims[std::size_t(r) % claims.size()];
        const std::string mine = "mine " + std::to_string(r), their = "theirs " + std::to_string(r);
        const bool premade = claim == Claim::kLink || claim == Claim::kRenameNoReplace;
        WriteRaw(s, mine);
        if (premade) WriteRaw(p, their);
        go.store(r, std::memory_order_release);
        WaitFor(ready, r);
        set.store(r, std::memory_order_release);
        if (r % 2 == 1) Spin(HeadStart(r, longestHeadStart));
        const RenameResult ours = RenameFileNoReplace(from, to, calls);
        WaitFor(done, r);

        bool sound = ours.ok != theirs.ok;
        std::set<std::string> expected;
        if (ours.ok) {
            sound = sound && ReadRaw(t) == mine && !Exists(s) && theirs.error == EEXIST;
            expected = {"t.jpg"};
            if (premade) sound = sound && ReadRaw(p) == their;
            if (premade) expected.insert("p.jpg");
            ++tally.oursWon;
        } else {
            sound = sound && ours.error == EEXIST && !ours.sourceMissing && ReadRaw(s) == mine;
            expected = {"s.jpg", "t.jpg"};
            struct stat info {};
            ::lstat(t.c_str(), &info);
            switch (claim) {
            case Claim::kMkdir:
                sound = sound && S_ISDIR(info.st_mode);
                break;
            case Claim::kSymlink: {
                char target[64] = {};
                sound = sound && ::readlink(t.c_str(), target, sizeof target - 1) > 0 &&
                        target == their;
                break;
            }
            case Claim::kLink:
                expected.insert("p.jpg");
                [[fallthrough]];
            default:
                sound = sound && ReadRaw(t) == their;
            }
            ++tally.theirsWon;
        }
        sound = sound && Names(folder) == expected;
        if (!sound) {
            ADD_FAILURE() << "round " << r << ": ours " << (ours.ok ? "ok" : "failed") << " ("
                          << std::strerror(ours.error) << ", " << RenameRouteName(ours.route)
                          << "), theirs " << (theirs.ok ? "ok" : std::strerror(theirs.error))
                          << "; s=" << ReadRaw(s) << " t=" << ReadRaw(t) << " entries "
                          << Names(folder).size();
            break;
        }
        ::unlink(s.c_str());
        ::unlink(p.c_str());
        if (::unlink(t.c_str()) != 0) ::rmdir(t.c_str());
    }
    stop.store(true);
    other.join();
    return tally;
}

// 10,000 rounds per route, 30,000 in all: 3 to 7 s under AddressSanitizer on this 2-core
// machine, depending on its load. The rounds run on tmpfs where there is one: on ext4 every
// rename over an existing file (the placeholder route) starts writeback of the source
// (auto_da_alloc), which makes the rounds several times slower.
constexpr int kRaceRounds = 10000;

TEST_P(RenameRoutes, RaceWithAnotherProgramTakingTheName) {
    QTemporaryDir shm("/dev/shm/sorowa-rename-race-XXXXXX");
    const bool onTmpfs = shm.isValid();
    const std::string folder = onTmpfs ? EncodeFileName(shm.path()) : folder_;
    const RaceTally tally = Race(folder, CallsFor(GetParam()),
                                 {Claim::kCreateExclusive, Claim::kMkdir, Claim::kSymlink,
                                  Claim::kLink, Claim::kRenameNoReplace},
                                 kRaceRounds);
    std::cout << "[race] " << RenameRouteName(RouteOf(GetParam())) << " on "
              << (onTmpfs ? "tmpfs" : "the temporary folder's disk") << ": ours won "
              << tally.oursWon << ", theirs won " << tally.theirsWon << " of " << kRaceRounds
              << '\n';
    EXPECT_EQ(tally.oursWon + tally.theirsWon, kRaceRounds);
}

// ---- a read-only mount -------------------------------------------------------------------

TEST_P(RenameRoutes, ReadOnlyFolderFailsAndKeepsEverything) {
    // Tests run as root, who writes into any folder whatever its mode bits, so the folder is
    // made read-only the way root must respect: a read-only mount.
    TmpfsMount mount(folder_);
    if (!mount.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(mount.Error())
                     << "), and a read-only folder cannot be made otherwise for root";
    }
    WriteRaw(Path("a.jpg"), "my picture");
    WriteRaw(Path("c.jpg"), "another");
    ASSERT_TRUE(mount.MakeReadOnly()) << std::strerror(errno);
    const Snapshot before = TakeSnapshot(folder_);
    for (const char* to : {"b.jpg", "c.jpg"}) {
        const RenameResult result = Rename(Path("a.jpg"), Path(to));
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error == EROFS || result.error == EEXIST) << std::strerror(result.error);
        EXPECT_FALSE(result.sourceMissing);
    }
    EXPECT_EQ(TakeSnapshot(folder_), before);
}

// ---- FAT -----------------------------------------------------------------------------------

class FatRename : public testing::Test {
protected:
    static void SetUpTestSuite() { volume_ = FatVolume::Mount(whyNot_).release(); }
    static void TearDownTestSuite() {
        delete volume_; // NOLINT: a suite-wide fixture, unmounted here
        volume_ = nullptr;
    }
    void SetUp() override {
        if (!volume_) GTEST_SKIP() << "no FAT volume can be mounted here: " << whyNot_;
        folder_ =
            volume_->Root() + '/' + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(::mkdir(folder_.c_str(), 0755), 0) << std::strerror(errno);
    }
    std::string Path(const std::string& name) const { return folder_ + '/' + name; }
    RenameResult Rename(const std::string& from, const std::string& to) {
        const RenameResult result = RenameFileNoReplace(Q(Path(from)), Q(Path(to)));
        std::cout << "[fat] " << volume_->Driver() << ": " << from << " -> " << to << ": "
                  << (result.ok ? "ok" : std::strerror(result.error)) << " via "
                  << RenameRouteName(result.route) << '\n';
        return result;
    }

    static FatVolume* volume_;
    static std::string whyNot_;
    std::string folder_;
};
FatVolume* FatRename::volume_ = nullptr;
std::string FatRename::whyNot_;

TEST_F(FatRename, FreeNameIsTakenThroughTheFallbackRoute) {
    WriteRaw(Path("b.jpg"), "picture");
    const RenameResult result = Rename("b.jpg", "photo001.jpg");
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    // fusefat refuses RENAME_NOREPLACE (EINVAL) and link (EPERM): the placeholder route.
    if (volume_->Driver() == "fusefat") {
        EXPECT_EQ(result.route, RenameRoute::kReservation);
    }
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"photo001.jpg"}));
    EXPECT_EQ(ReadRaw(Path("photo001.jpg")), "picture");
}

TEST_F(FatRename, CollisionsAndSwapsLoseNothing) {
    WriteRaw(Path("photo01.jpg"), "first");
    WriteRaw(Path("photo02.jpg"), "second");
    WriteRaw(Path("Photo03.JPG"), "third");
    ASSERT_EQ(::mkdir(Path("photo04.jpg").c_str(), 0755), 0);
    WriteRaw(Path("photo04.jpg/inside.jpg"), "inside");
    const Snapshot before = TakeSnapshot(folder_);
    // The two names exchanged on screen: each wants the other's name.
    for (const auto& [from, to] :
         {std::pair{"photo01.jpg", "photo02.jpg"}, std::pair{"photo02.jpg", "photo01.jpg"},
          std::pair{"photo01.jpg", "photo03.jpg"}, // other letter case
          std::pair{"photo02.jpg", "photo04.jpg"}}) {
        const RenameResult result = Rename(from, to);
        EXPECT_FALSE(result.ok) << from << " -> " << to;
        EXPECT_EQ(result.error, EEXIST) << std::strerror(result.error);
        EXPECT_FALSE(result.sourceMissing);
    }
    EXPECT_EQ(TakeSnapshot(folder_), before);
}

TEST_F(FatRename, CaseOnlyRenameKeepsTheFile) {
    WriteRaw(Path("photo.JPG"), "picture");
    WriteRaw(Path("Trip.jpeg"), "trip");
    RenameResult result = Rename("photo.JPG", "PHOTO.JPG");
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(result.route, RenameRoute::kCaseOnly);
    result = Rename("Trip.jpeg", "trip.JPEG");
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"PHOTO.JPG", "trip.JPEG"}));
    EXPECT_EQ(ReadRaw(Path("PHOTO.JPG")), "picture");
    EXPECT_EQ(ReadRaw(Path("trip.JPEG")), "trip");
    // Back from an all-capitals (8.3) name to lower case.
    result = Rename("PHOTO.JPG", "photo.jpg");
    ASSERT_TRUE(result.ok) << std::strerror(result.error);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"photo.jpg", "trip.JPEG"}));
    EXPECT_EQ(ReadRaw(Path("photo.jpg")), "picture");
}

// A driver that answers success to a case-only rename but keeps the old spelling.
TEST_F(FatRename, CaseOnlyRenameThatChangesNothingIsAFailure) {
    WriteRaw(Path("photo.JPG"), "picture");
    RenameSystemCalls calls = DefaultRenameSystemCalls();
    calls.rename = [](int, const char*, const char*) { return 0; };
    const RenameResult result =
        RenameFileNoReplace(Q(Path("photo.JPG")), Q(Path("PHOTO.JPG")), calls);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EEXIST);
    EXPECT_FALSE(result.sourceMissing);
    EXPECT_EQ(Names(folder_), (std::set<std::string>{"photo.JPG"}));
    EXPECT_EQ(ReadRaw(Path("photo.JPG")), "picture");
}

TEST_F(FatRename, MissingSourceIsReported) {
    const RenameResult result = Rename("gone.jpg", "b.jpg");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_TRUE(result.sourceMissing);
    EXPECT_TRUE(Names(folder_).empty());
}

// FAT has no symbolic or hard links, and fusefat refuses RENAME_NOREPLACE. Each step through
// FUSE takes a round trip to the driver, so the head starts are a hundred times longer.
constexpr int kFatRaceRounds = 400;

TEST_F(FatRename, RaceWithAnotherProgramTakingTheName) {
    const RaceTally tally = Race(folder_, DefaultRenameSystemCalls(),
                                 {Claim::kCreateExclusive, Claim::kMkdir}, kFatRaceRounds, 400000);
    std::cout << "[race] " << volume_->Driver() << ": ours won " << tally.oursWon << ", theirs won "
              << tally.theirsWon << " of " << kFatRaceRounds << '\n';
    EXPECT_EQ(tally.oursWon + tally.theirsWon, kFatRaceRounds);
}

} // namespace
} // namespace sorowa::platform
