#include "platform/file_identity.h"

#include "platform/file_names.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::platform {
namespace {

FileIdentity IdentityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

bool SameFile(const struct stat& info, const FileIdentity& identity) {
    return static_cast<std::uint64_t>(info.st_dev) == identity.device &&
           static_cast<std::uint64_t>(info.st_ino) == identity.inode;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens name (relative to folderFd, or as a path when folderFd is AT_FDCWD) when it is the
// file of identity; -1 otherwise.
int OpenIfSameFile(int folderFd, const char* name, const FileIdentity& identity) {
    const int fd = openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) == 0 && SameFile(info, identity)) return fd;
    close(fd);
    return -1;
}

QString InFolder(const QString& folder, const std::string& name) {
    return folder + (folder.endsWith(QLatin1Char('/')) ? "" : "/") + DecodeFileName(name);
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    if (slash == 0) return QStringLiteral("/");
    return path.left(slash);
}

// Looks through path's folder for the entry that is the file of identity: first the entries
// whose inode number the folder listing already gives, then, for file systems whose listings
// report other numbers than stat does, every entry.
int FindRenamed(const QString& path, const FileIdentity& identity, QString& foundPath) {
    const QString folder = FolderOf(path);
    DIR* dir = opendir(EncodeFileName(folder).c_str());
    if (dir == nullptr) return -1;
    std::vector<std::string> others;
    int found = -1;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (static_cast<std::uint64_t>(entry->d_ino) != identity.inode) {
            others.push_back(name);
            continue;
        }
        found = OpenIfSameFile(dirfd(dir), name.c_str(), identity);
        if (found >= 0) {
            foundPath = InFolder(folder, name);
            break;
        }
    }
    for (std::size_t i = 0; found < 0 && i < others.size(); ++i) {
        struct stat info {};
        if (fstatat(dirfd(dir), others[i].c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || !SameFile(info, identity))
            continue;
        found = OpenIfSameFile(dirfd(dir), others[i].c_str(), identity);
        if (found >= 0) foundPath = InFolder(folder, others[i]);
    }
    closedir(dir);
    return found;
}

// Reads fd, the file of identity, from offset to its end into result.
void ReadOpenFile(int fd, const FileIdentity& identity, std::int64_t offset, RereadResult& result) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        result.status = RereadStatus::ReadError;
        return;
    }
    if (IdentityOf(info) != identity || offset < 0 || offset > identity.size) {
        result.status = RereadStatus::Changed;
        return;
    }
    const auto size = static_cast<std::size_t>(identity.size - offset);
    try {
        result.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
        result.status = RereadStatus::ReadError;
        return;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            pread(fd, result.bytes.get() + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result.bytes.reset();
            result.status = RereadStatus::ReadError;
            return;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    // Shorter than it was, or written to while being read: not the bytes that were loaded.
    if (done != size || fstat(fd, &info) != 0 || IdentityOf(info) != identity) {
        result.bytes.reset();
        result.status = RereadStatus::Changed;
        return;
    }
    result.size = size;
    result.status = RereadStatus::Ok;
}

} // namespace

std::optional<FileIdentity> IdentifyOpenFile(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return IdentityOf(info);
}

RereadResult ReadFileAgain(const QString& path, const FileIdentity& identity, std::int64_t offset) {
    RereadResult result;
    result.path = path;
    Fd fd(OpenIfSameFile(AT_FDCWD, EncodeFileName(path).c_str(), identity));
    if (fd.get() >= 0) {
        ReadOpenFile(fd.get(), identity, offset, result);
        return result;
    }
    Fd renamed(FindRenamed(path, identity, result.path));
    if (renamed.get() >= 0) {
        ReadOpenFile(renamed.get(), identity, offset, result);
    } else {
        // Another file under the name (saved over by writing a new file) is a change.
        struct stat info {};
        if (stat(EncodeFileName(path).c_str(), &info) == 0) result.status = RereadStatus::Changed;
    }
    return result;
}

} // namespace sorowa::platform
