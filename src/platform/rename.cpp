#include "platform/rename.h"

#include "platform/file_names.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace sorowa::platform {
namespace {

int SysRenameNoReplace(int dir, const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(dir, from, dir, to, RENAME_NOREPLACE);
#else
    return static_cast<int>(
        ::syscall(SYS_renameat2, dir, from, dir, to, unsigned{RENAME_NOREPLACE}));
#endif
}

int SysLink(int dir, const char* from, const char* to) {
    return ::linkat(dir, from, dir, to, 0);
}
int SysUnlink(int dir, const char* path) {
    return ::unlinkat(dir, path, 0);
}
int SysRename(int dir, const char* from, const char* to) {
    return ::renameat(dir, from, dir, to);
}

// Mode 0: a program of the same (non-root) user that opens the placeholder without O_EXCL in
// the moment before the file is renamed over it gets EACCES instead of writing into a file
// that is about to be replaced. FAT ignores the mode.
int SysCreateExclusive(int dir, const char* path) {
    return ::openat(dir, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0);
}

const RenameSystemCalls kSystemCalls{SysRenameNoReplace, SysLink, SysUnlink, SysCreateExclusive,
                                     SysRename};

RenameResult Succeeded(RenameRoute route) {
    return {true, 0, false, route};
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Folder part ("." when there is none) and last component of a path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    std::string folder = path.substr(0, slash);
    return {folder.empty() ? "/" : folder, path.substr(slash + 1)};
}

QString FoldedName(const std::string& name) {
    return DecodeFileName(name).normalized(QString::NormalizationForm_C).toCaseFolded();
}

enum class Alias { kNone, kSameEntry, kCaseVariant };

// One rename: every path is taken relative to dir (AT_FDCWD or an open folder), and every
// system call that changes a name goes through calls.
class Renamer {
public:
    Renamer(int dir, const RenameSystemCalls& calls) : dir_(dir), calls_(calls) {}

    RenameResult Rename(const std::string& from, const std::string& to) const;

private:
    bool Lstat(const std::string& path, struct stat* info) const {
        return ::fstatat(dir_, path.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
    }
    bool SourceMissing(const std::string& from) const {
        struct stat info {};
        return !Lstat(from, &info) && (errno == ENOENT || errno == ENOTDIR);
    }
    RenameResult Failed(const std::string& from, int code, RenameRoute route) const {
        return {false, code, SourceMissing(from), route};
    }
    bool SameFile(const std::string& a, const std::string& b) const {
        struct stat infoA {};
        struct stat infoB {};
        return Lstat(a, &infoA) && Lstat(b, &infoB) && platform::SameFile(infoA, infoB);
    }
    std::vector<std::string> FolderNames(const std::string& folder) const;
    Alias ClassifyExistingTarget(const std::string& from, const std::string& to) const;
    bool ListedVerbatim(const std::string& path) const;
    RenameResult RenameCaseOnly(const std::string& from, const std::string& to) const;
    RenameResult FailOrAlias(const std::string& from, const std::string& to, int code,
                             RenameRoute route) const;
    bool IsOurPlaceholder(const std::string& path, const struct stat& placeholder) const;
    RenameResult RenameOverPlaceholder(const std::string& from, const std::string& to) const;
    RenameResult RenameByLink(const std::string& from, const std::string& to) const;

    int dir_;
    const RenameSystemCalls& calls_;
};

// The raw names of a folder; empty when it cannot be read.
std::vector<std::string> Renamer::FolderNames(const std::string& folder) const {
    std::vector<std::string> names;
    const int fd = ::openat(dir_, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
    if (!listing) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get()))
        names.emplace_back(entry->d_name);
    return names;
}

// Called when the new name already exists: is it the source itself? Either the same entry
// reached through another spelling of the folder ("a//b" and "a/b"), or the same file under a
// name differing only in letter case in a folder that ignores case. In the second case no
// other entry may answer to the new name, and the new spelling itself must not be an entry of
// its own (then it is another file, or another hard link, on a case-sensitive folder). Inode
// numbers alone do not settle it: FUSE drivers such as fusefat number a file per name looked up.
Alias Renamer::ClassifyExistingTarget(const std::string& from, const std::string& to) const {
    const auto [fromFolder, fromName] = SplitPath(from);
    const auto [toFolder, toName] = SplitPath(to);
    if (fromName.empty() || toName.empty() || fromName == "." || fromName == "..") {
        return Alias::kNone;
    }
    struct stat folderA {};
    struct stat folderB {};
    if (::fstatat(dir_, fromFolder.c_str(), &folderA, 0) != 0 ||
        ::fstatat(dir_, toFolder.c_str(), &folderB, 0) != 0 ||
        !platform::SameFile(folderA, folderB)) {
        return Alias::kNone;
    }
    struct stat source {};
    struct stat target {};
    if (!Lstat(from, &source) || !Lstat(to, &target) || source.st_dev != target.st_dev) {
        return Alias::kNone;
    }
    if (fromName == toName) return Alias::kSameEntry;
    if (DecodeFileName(fromName).compare(DecodeFileName(toName), Qt::CaseInsensitive) != 0) {
        return Alias::kNone;
    }
    const QString wanted = FoldedName(toName);
    bool sourceListed = false;
    for (const std::string& name : FolderNames(fromFolder)) {
        if (name == toName) return Alias::kNone;
        if (name == fromName) {
            sourceListed = true;
        } else if (FoldedName(name) == wanted) {
            return Alias::kNone;
        }
    }
    return sourceListed ? Alias::kCaseVariant : Alias::kNone;
}

bool Renamer::ListedVerbatim(const std::string& path) const {
    const auto [folder, name] = SplitPath(path);
    for (const std::string& entry : FolderNames(folder)) {
        if (entry == name) return true;
    }
    return false;
}

// On a case-insensitive folder the old and the new spelling reach the same entry, so no other
// file can hold the new name while the source exists, and rename(2) cannot replace anything.
RenameResult Renamer::RenameCaseOnly(const std::string& from, const std::string& to) const {
    if (calls_.rename(dir_, from.c_str(), to.c_str()) != 0) {
        return Failed(from, errno, RenameRoute::kCaseOnly);
    }
    // The kernel treats a rename onto the same inode as done without asking the file system,
    // so some drivers answer success and keep the old spelling: say so rather than claim it.
    if (!ListedVerbatim(to)) return Failed(from, EEXIST, RenameRoute::kCaseOnly);
    return Succeeded(RenameRoute::kCaseOnly);
}

RenameResult Renamer::FailOrAlias(const std::string& from, const std::string& to, int code,
                                  RenameRoute route) const {
    if (code == EEXIST) {
        switch (ClassifyExistingTarget(from, to)) {
        case Alias::kSameEntry:
            return Succeeded(RenameRoute::kNothingDone);
        case Alias::kCaseVariant:
            return RenameCaseOnly(from, to);
        case Alias::kNone:
            break;
        }
    }
    return Failed(from, code, route);
}

bool Renamer::IsOurPlaceholder(const std::string& path, const struct stat& placeholder) const {
    struct stat now {};
    return Lstat(path, &now) && platform::SameFile(now, placeholder) && S_ISREG(now.st_mode) &&
           now.st_size == 0 && now.st_mtim.tv_sec == placeholder.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == placeholder.st_mtim.tv_nsec;
}

// For file systems without hard links (FAT): the exclusive create is the atomic step that
// takes the name; rename(2) then only ever replaces the empty placeholder made here. What is
// left is the moment between the check and rename(2), in which another program would have to
// delete a file it did not make and put its own in place.
RenameResult Renamer::RenameOverPlaceholder(const std::string& from, const std::string& to) const {
    const int fd = calls_.createExclusive(dir_, to.c_str());
    if (fd < 0) return FailOrAlias(from, to, errno, RenameRoute::kReservation);
    struct stat placeholder {};
    const bool known = ::fstat(fd, &placeholder) == 0;
    const int statError = errno;
    // Closed before the rename: FUSE drivers keep a replaced file that is still open under a
    // hidden name (.fuse_hidden...), which would be left in the user's folder.
    ::close(fd);
    if (!known) {
        calls_.unlink(dir_, to.c_str());
        return Failed(from, statError, RenameRoute::kReservation);
    }
    if (!IsOurPlaceholder(to, placeholder)) {
        // Someone replaced or wrote into the placeholder: whatever is there now is theirs.
        return Failed(from, EEXIST, RenameRoute::kReservation);
    }
    if (calls_.rename(dir_, from.c_str(), to.c_str()) == 0) {
        return Succeeded(RenameRoute::kReservation);
    }
    const int code = errno;
    if (IsOurPlaceholder(to, placeholder)) calls_.unlink(dir_, to.c_str());
    return Failed(from, code, RenameRoute::kReservation);
}

RenameResult Renamer::RenameByLink(const std::string& from, const std::string& to) const {
    if (calls_.link(dir_, from.c_str(), to.c_str()) != 0) {
        const int code = errno;
        if (code == EPERM) return RenameOverPlaceholder(from, to);
        return FailOrAlias(from, to, code, RenameRoute::kLinkUnlink);
    }
    if (calls_.unlink(dir_, from.c_str()) == 0) return Succeeded(RenameRoute::kLinkUnlink);
    const int code = errno;
    // The old name vanished in between (another program removed or moved it): the file lives
    // on under the new name only, which is a finished rename. Removing the new link now would
    // lose the file.
    struct stat info {};
    if (code == ENOENT && Lstat(to, &info)) return Succeeded(RenameRoute::kLinkUnlink);
    // The file has two names. Take the new one back, but only while it still is this file:
    // another program may have put its own file there in the meantime.
    if (SameFile(from, to)) calls_.unlink(dir_, to.c_str());
    return Failed(from, code, RenameRoute::kLinkUnlink);
}

RenameResult Renamer::Rename(const std::string& from, const std::string& to) const {
    if (from == to) {
        // As the rename of the original platform answers: success, and the file is not touched.
        struct stat info {};
        if (Lstat(from, &info)) return Succeeded(RenameRoute::kNothingDone);
        return Failed(from, errno, RenameRoute::kNothingDone);
    }
    if (calls_.renameNoReplace(dir_, from.c_str(), to.c_str()) == 0) {
        return Succeeded(RenameRoute::kRenameNoReplace);
    }
    const int code = errno;
    // EINVAL: the file system does not know the flag (FAT, some FUSE drivers); ENOSYS: a kernel
    // or sandbox without renameat2.
    if (code == EINVAL || code == ENOSYS) return RenameByLink(from, to);
    return FailOrAlias(from, to, code, RenameRoute::kRenameNoReplace);
}

} // namespace

const char* RenameRouteName(RenameRoute route) {
    switch (route) {
    case RenameRoute::kNothingDone:
        return "nothing done";
    case RenameRoute::kRenameNoReplace:
        return "renameat2(RENAME_NOREPLACE)";
    case RenameRoute::kLinkUnlink:
        return "link + unlink";
    case RenameRoute::kReservation:
        return "exclusive create + rename over it";
    case RenameRoute::kCaseOnly:
        return "case-only rename";
    }
    return "?";
}

const RenameSystemCalls& DefaultRenameSystemCalls() {
    return kSystemCalls;
}

RenameResult RenameFileNoReplace(const QString& oldPath, const QString& newPath) {
    return RenameFileNoReplace(oldPath, newPath, kSystemCalls);
}

RenameResult RenameFileNoReplace(const QString& oldPath, const QString& newPath,
                                 const RenameSystemCalls& calls) {
    return Renamer(AT_FDCWD, calls).Rename(EncodeFileName(oldPath), EncodeFileName(newPath));
}

RenameResult RenameEntryNoReplace(int folder, const QString& oldName, const QString& newName,
                                  const RenameSystemCalls& calls) {
    return Renamer(folder, calls).Rename(EncodeFileName(oldName), EncodeFileName(newName));
}

} // namespace sorowa::platform
