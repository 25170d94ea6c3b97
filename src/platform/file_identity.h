#pragma once
// Finding a file again after reading it: what identifies the file that was read (device,
// inode, size, modification time), and reading it once more, by its name or, when it has been
// renamed within its folder since (as a batch rename does), by its inode, or where inode
// numbers do not last, by its size and time.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace sorowa::platform {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of an open file; nullopt for anything but a regular file.
std::optional<FileIdentity> IdentifyOpenFile(int fd);

enum class RereadStatus {
    Ok,
    Missing,   // neither the name nor any entry of its folder is that file any more
    Changed,   // its size differs, or another file has taken its name
    ReadError, // it could not be opened or read
};

struct RereadResult {
    RereadStatus status = RereadStatus::Missing;
    QString path; // where the file was found
    // The bytes from the offset to the end, or as many as asked for (not zeroed first: a
    // decode reads them once).
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};

// Reads the file that had identity when it was read as path, from offset to its end, or only
// its first maxLength bytes from offset when maxLength is not negative.
RereadResult ReadFileAgain(const QString& path, const FileIdentity& identity, std::int64_t offset,
                           std::int64_t maxLength = -1);

} // namespace sorowa::platform
