#include "platform/file_identity.h"

#include "platform/file_names.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sorowa::platform {
namespace {

std::int64_t ModifiedNs(const struct stat& info) {
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

FileIdentity IdentityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_size), ModifiedNs(info)};
}

// Strong: the same file (device and inode) at the same size. Its time may differ: some file
// systems (FUSE FAT among them) stamp a file anew when it is renamed. Weak: a regular file of
// the same device, size and modification time under another inode number, which is how an
// unchanged file looks on file systems whose inode numbers do not last (FAT, FUSE) once the
// system has forgotten it. A file whose size changed is neither: a different picture now.
enum class Match { None, Weak, Strong };

Match MatchOf(const struct stat& info, const FileIdentity& identity) {
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_dev) != identity.device ||
        static_cast<std::int64_t>(info.st_size) != identity.size)
        return Match::None;
    if (static_cast<std::uint64_t>(info.st_ino) == identity.inode) return Match::Strong;
    return ModifiedNs(info) == identity.modifiedNs ? Match::Weak : Match::None;
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// name opened (relative to folderFd, or as a path with AT_FDCWD), with how it matches.
struct Candidate {
    Fd fd;
    Match match = Match::None;
    struct stat info {};
};

Candidate Open(int folderFd, const std::string& name, const FileIdentity& identity) {
    Candidate candidate;
    candidate.fd = Fd(openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (candidate.fd.get() >= 0 && fstat(candidate.fd.get(), &candidate.info) == 0)
        candidate.match = MatchOf(candidate.info, identity);
    return candidate;
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

// Looks through the folder for the file renamed: an entry that is that file by its inode
// number (tried first on the entries whose number the listing gives, then on all, for file
// systems whose listings report other numbers than stat does), or else the one entry, if there
// is exactly one, that matches it weakly.
Candidate FindInFolder(const QString& folder, const FileIdentity& identity, QString& foundPath) {
    DIR* dir = opendir(EncodeFileName(folder).c_str());
    if (dir == nullptr) return Candidate();
    std::vector<std::string> names;
    Candidate found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(name);
        if (static_cast<std::uint64_t>(entry->d_ino) != identity.inode) continue;
        Candidate candidate = Open(dirfd(dir), name, identity);
        if (candidate.match == Match::Strong) {
            found = std::move(candidate);
            foundPath = InFolder(folder, name);
            break;
        }
    }
    if (found.match != Match::Strong) {
        const std::string* weak = nullptr;
        int weakCount = 0;
        for (const std::string& name : names) {
            struct stat info {};
            if (fstatat(dirfd(dir), name.c_str(), &info, 0) != 0) continue;
            const Match match = MatchOf(info, identity);
            if (match == Match::Strong) {
                found = Open(dirfd(dir), name, identity);
                if (found.match == Match::Strong) foundPath = InFolder(folder, name);
                weakCount = 0;
                break;
            }
            if (match == Match::Weak) weak = &name, ++weakCount;
        }
        if (weakCount == 1) {
            found = Open(dirfd(dir), *weak, identity);
            if (found.match == Match::Weak) foundPath = InFolder(folder, *weak);
        }
    }
    closedir(dir);
    if (found.match == Match::None) return Candidate();
    return found;
}

// Reads the candidate from offset to its end, or at most maxLength bytes (when not negative,
// and never fewer than the fingerprint covers), into result; Changed unless the bytes still
// have the fingerprint.
// Reads size bytes at offset, fewer only at the file's end; -1 on a read error.
std::int64_t ReadAt(int fd, std::uint8_t* out, std::size_t size, std::int64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

// Whether the fingerprinted bytes at fingerprintOffset are still the same.
bool StillHasFingerprint(int fd, const FileFingerprint& fingerprint,
                         std::int64_t fingerprintOffset) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fingerprint.length));
    return ReadAt(fd, bytes.data(), bytes.size(), fingerprintOffset) == fingerprint.length &&
           FingerprintOf(bytes.data(), bytes.size()) == fingerprint;
}

void ReadCandidate(const Candidate& file, const FileFingerprint& fingerprint, std::int64_t offset,
                   std::int64_t maxLength, RereadResult& result,
                   std::int64_t fingerprintOffset = -1) {
    const auto size64 = static_cast<std::int64_t>(file.info.st_size);
    const bool apart = fingerprintOffset >= 0 && fingerprintOffset != offset;
    if (offset < 0 || offset > size64 ||
        (!apart && fingerprint.length > size64 - offset) ||
        (apart && (fingerprintOffset > size64 || fingerprint.length > size64 - fingerprintOffset))) {
        result.status = RereadStatus::Changed;
        return;
    }
    if (apart && !StillHasFingerprint(file.fd.get(), fingerprint, fingerprintOffset)) {
        result.status = RereadStatus::Changed;
        return;
    }
    std::int64_t length = size64 - offset;
    if (maxLength >= 0)
        length = std::min(length, apart ? maxLength : std::max(maxLength, fingerprint.length));
    const auto size = static_cast<std::size_t>(length);
    try {
        result.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
        result.status = RereadStatus::ReadError;
        return;
    }
    const std::int64_t got = ReadAt(file.fd.get(), result.bytes.get(), size, offset);
    if (got < 0) {
        result.bytes.reset();
        result.status = RereadStatus::ReadError;
        return;
    }
    const auto done = static_cast<std::size_t>(got);
    // Shorter than it was, written to while being read, or other bytes than were first read
    // (overwritten in place, or a new file under a reused inode number).
    struct stat after {};
    if (done != size || fstat(file.fd.get(), &after) != 0 ||
        IdentityOf(after) != IdentityOf(file.info) ||
        (!apart && FingerprintOf(result.bytes.get(), static_cast<std::size_t>(fingerprint.length)) !=
                       fingerprint)) {
        result.bytes.reset();
        result.status = RereadStatus::Changed;
        return;
    }
    result.size = size;
    result.status = RereadStatus::Ok;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::optional<FileIdentity> IdentifyOpenFile(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return IdentityOf(info);
}

FileFingerprint FingerprintOf(const std::uint8_t* bytes, std::size_t length) {
    // FNV-1a: it only has to tell different contents apart, not withstand an attacker.
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return {static_cast<std::int64_t>(length), hash};
}

RereadResult ReadFileAgain(const QString& path, const FileIdentity& identity,
                           const FileFingerprint& fingerprint, std::int64_t offset,
                           std::int64_t maxLength) {
    return ReadFileRangeAgain(path, identity, fingerprint, offset, offset, maxLength);
}

RereadResult ReadFileRangeAgain(const QString& path, const FileIdentity& identity,
                                const FileFingerprint& fingerprint,
                                std::int64_t fingerprintOffset, std::int64_t offset,
                                std::int64_t maxLength) {
    RereadResult result;
    result.path = path;
    Candidate atPath = Open(AT_FDCWD, EncodeFileName(path), identity);
    if (atPath.match == Match::Strong) {
        ReadCandidate(atPath, fingerprint, offset, maxLength, result, fingerprintOffset);
        if (result.status != RereadStatus::Changed) return result;
    }
    QString foundPath;
    const Candidate renamed = FindInFolder(FolderOf(path), identity, foundPath);
    const bool renamedIsAtPath = renamed.match != Match::None && atPath.match != Match::None &&
                                 SameFile(renamed.info, atPath.info);
    if (renamedIsAtPath && atPath.match == Match::Strong) {
        result.status = RereadStatus::Changed; // read and refused above
        return result;
    }
    if (renamed.match == Match::Strong ||
        (renamed.match == Match::Weak && atPath.match != Match::Weak)) {
        result.path = foundPath;
        ReadCandidate(renamed, fingerprint, offset, maxLength, result, fingerprintOffset);
    } else if (atPath.match == Match::Weak) {
        ReadCandidate(atPath, fingerprint, offset, maxLength, result, fingerprintOffset);
    } else if (atPath.fd.get() >= 0) {
        // Written to, or saved over by a new file under the name.
        result.status = RereadStatus::Changed;
    }
    return result; // Missing unless found
}

} // namespace sorowa::platform
