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

int SysRenameNoReplace(const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, unsigned{RENAME_NOREPLACE}));
#endif
}

int SysLink(const char* from, const char* to) {
    return ::link(from, to);
}
int SysUnlink(const char* path) {
    return ::unlink(path);
}
int SysRename(const char* from, const char* to) {
    return ::rename(from, to);
}

// Mode 0: a program of the same (non-root) user that opens the placeholder without O_EXCL in
// the moment before the file is renamed over it gets EACCES instead of writing into a file
// that is about to be replaced. FAT ignores the mode.
int SysCreateExclusive(const char* path) {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0);
}

const RenameSystemCalls kSystemCalls{SysRenameNoReplace, SysLink, SysUnlink, SysCreateExclusive,
                                     SysRename};

RenameResult Succeeded(RenameRoute route) {
    return {true, 0, false, route};
}

bool SourceMissing(const std::string& from) {
    struct stat info {};
    return ::lstat(from.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

RenameResult Failed(const std::string& from, int code, RenameRoute route) {
    return {false, code, SourceMissing(from), route};
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat infoA {};
    struct stat infoB {};
    return ::lstat(a.c_str(), &infoA) == 0 && ::lstat(b.c_str(), &infoB) == 0 &&
           SameFile(infoA, infoB);
}

// Folder part ("." when there is none) and last component of a path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    std::string folder = path.substr(0, slash);
    return {folder.empty() ? "/" : folder, path.substr(slash + 1)};
}

// The raw names of a folder; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get()))
        names.emplace_back(entry->d_name);
    return names;
}

QString FoldedName(const std::string& name) {
    return DecodeFileName(name).normalized(QString::NormalizationForm_C).toCaseFolded();
}

enum class Alias { kNone, kSameEntry, kCaseVariant };

// Called when the new name already exists: is it the source itself? Either the same entry
// reached through another spelling of the folder ("a//b" and "a/b"), or the same file under a
// name differing only in letter case in a folder that ignores case. In the second case no
// other entry may answer to the new name, and the new spelling itself must not be an entry of
// its own (then it is another file, or another hard link, on a case-sensitive folder). Inode
// numbers alone do not settle it: FUSE drivers such as fusefat number a file per name looked up.
Alias ClassifyExistingTarget(const std::string& from, const std::string& to) {
    const auto [fromFolder, fromName] = SplitPath(from);
    const auto [toFolder, toName] = SplitPath(to);
    if (fromName.empty() || toName.empty() || fromName == "." || fromName == "..") {
        return Alias::kNone;
    }
    struct stat folderA {};
    struct stat folderB {};
    if (::stat(fromFolder.c_str(), &folderA) != 0 || ::stat(toFolder.c_str(), &folderB) != 0 ||
        !SameFile(folderA, folderB)) {
        return Alias::kNone;
    }
    struct stat source {};
    struct stat target {};
    if (::lstat(from.c_str(), &source) != 0 || ::lstat(to.c_str(), &target) != 0 ||
        source.st_dev != target.st_dev) {
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

bool ListedVerbatim(const std::string& path) {
    const auto [folder, name] = SplitPath(path);
    for (const std::string& entry : FolderNames(folder)) {
        if (entry == name) return true;
    }
    return false;
}

// On a case-insensitive folder the old and the new spelling reach the same entry, so no other
// file can hold the new name while the source exists, and rename(2) cannot replace anything.
RenameResult RenameCaseOnly(const std::string& from, const std::string& to,
                            const RenameSystemCalls& calls) {
    if (calls.rename(from.c_str(), to.c_str()) != 0) {
        return Failed(from, errno, RenameRoute::kCaseOnly);
    }
    // The kernel treats a rename onto the same inode as done without asking the file system,
    // so some drivers answer success and keep the old spelling: say so rather than claim it.
    if (!ListedVerbatim(to)) return Failed(from, EEXIST, RenameRoute::kCaseOnly);
    return Succeeded(RenameRoute::kCaseOnly);
}

RenameResult FailOrAlias(const std::string& from, const std::string& to, int code,
                         RenameRoute route, const RenameSystemCalls& calls) {
    if (code == EEXIST) {
        switch (ClassifyExistingTarget(from, to)) {
        case Alias::kSameEntry:
            return Succeeded(RenameRoute::kNothingDone);
        case Alias::kCaseVariant:
            return RenameCaseOnly(from, to, calls);
        case Alias::kNone:
            break;
        }
    }
    return Failed(from, code, route);
}

bool IsOurPlaceholder(const std::string& path, const struct stat& placeholder) {
    struct stat now {};
    return ::lstat(path.c_str(), &now) == 0 && SameFile(now, placeholder) && S_ISREG(now.st_mode) &&
           now.st_size == 0 && now.st_mtim.tv_sec == placeholder.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == placeholder.st_mtim.tv_nsec;
}

// For file systems without hard links (FAT): the exclusive create is the atomic step that
// takes the name; rename(2) then only ever replaces the empty placeholder made here. What is
// left is the moment between the check and rename(2), in which another program would have to
// delete a file it did not make and put its own in place.
RenameResult RenameOverPlaceholder(const std::string& from, const std::string& to,
                                   const RenameSystemCalls& calls) {
    const int fd = calls.createExclusive(to.c_str());
    if (fd < 0) return FailOrAlias(from, to, errno, RenameRoute::kReservation, calls);
    struct stat placeholder {};
    const bool known = ::fstat(fd, &placeholder) == 0;
    const int statError = errno;
    // Closed before the rename: FUSE drivers keep a replaced file that is still open under a
    // hidden name (.fuse_hidden...), which would be left in the user's folder.
    ::close(fd);
    if (!known) {
        calls.unlink(to.c_str());
        return Failed(from, statError, RenameRoute::kReservation);
    }
    if (!IsOurPlaceholder(to, placeholder)) {
        // Someone replaced or wrote into the placeholder: whatever is there now is theirs.
        return Failed(from, EEXIST, RenameRoute::kReservation);
    }
    if (calls.rename(from.c_str(), to.c_str()) == 0) return Succeeded(RenameRoute::kReservation);
    const int code = errno;
    if (IsOurPlaceholder(to, placeholder)) calls.unlink(to.c_str());
    return Failed(from, code, RenameRoute::kReservation);
}

RenameResult RenameByLink(const std::string& from, const std::string& to,
                          const RenameSystemCalls& calls) {
    if (calls.link(from.c_str(), to.c_str()) != 0) {
        const int code = errno;
        if (code == EPERM) return RenameOverPlaceholder(from, to, calls);
        return FailOrAlias(from, to, code, RenameRoute::kLinkUnlink, calls);
    }
    if (calls.unlink(from.c_str()) == 0) return Succeeded(RenameRoute::kLinkUnlink);
    const int code = errno;
    // The old name vanished in between (another program removed or moved it): the file lives
    // on under the new name only, which is a finished rename. Removing the new link now would
    // lose the file.
    struct stat info {};
    if (code == ENOENT && ::lstat(to.c_str(), &info) == 0) {
        return Succeeded(RenameRoute::kLinkUnlink);
    }
    // The file has two names. Take the new one back, but only while it still is this file:
    // another program may have put its own file there in the meantime.
    if (SameFile(from, to)) calls.unlink(to.c_str());
    return Failed(from, code, RenameRoute::kLinkUnlink);
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
    const std::string from = EncodeFileName(oldPath);
    const std::string to = EncodeFileName(newPath);
    if (from == to) {
        // As the rename of the original platform answers: success, and the file is not touched.
        struct stat info {};
        if (::lstat(from.c_str(), &info) == 0) return Succeeded(RenameRoute::kNothingDone);
        return Failed(from, errno, RenameRoute::kNothingDone);
    }
    if (calls.renameNoReplace(from.c_str(), to.c_str()) == 0) {
        return Succeeded(RenameRoute::kRenameNoReplace);
    }
    const int code = errno;
    // EINVAL: the file system does not know the flag (FAT, some FUSE drivers); ENOSYS: a kernel
    // or sandbox without renameat2.
    if (code == EINVAL || code == ENOSYS) return RenameByLink(from, to, calls);
    return FailOrAlias(from, to, code, RenameRoute::kRenameNoReplace, calls);
}

} // namespace sorowa::platform
