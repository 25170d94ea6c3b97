#pragma once
// Finding a file again after reading it: what identifies the file that was read (device,
// inode, size, modification time), and reading it once more, by its name or, when it has been
// renamed within its folder since (as a batch rename does), by its inode, or where inode
// numbers do not last, by its size and time.
//
// Where the file is found is not proof that it still holds what was read: a file overwritten
// in place by another of the same size, or deleted and made anew under an inode number the
// file system hands out again, looks the same to stat. A file read again is therefore taken
// only when a hash of the bytes first read from it (and its size) are still the same;
// anything else is a changed file.

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

// A hash of the first length bytes read from a file (from the offset it was read at).
struct FileFingerprint {
    std::int64_t length = 0;
    std::uint64_t hash = 0;
    bool operator==(const FileFingerprint&) const = default;
};

// The fingerprint of bytes as first read.
FileFingerprint FingerprintOf(const std::uint8_t* bytes, std::size_t length);

// The identity of an open file; nullopt for anything but a regular file.
std::optional<FileIdentity> IdentifyOpenFile(int fd);

enum class RereadStatus {
    Ok,
    Missing,   // neither the name nor any entry of its folder is that file any more
    Changed,   // its size or its fingerprinted bytes differ, or another file has its name
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
// its first maxLength bytes from offset when maxLength is not negative (never fewer than the
// fingerprint covers). The bytes from offset must still have the fingerprint.
RereadResult ReadFileAgain(const QString& path, const FileIdentity& identity,
                           const FileFingerprint& fingerprint, std::int64_t offset,
                           std::int64_t maxLength = -1);

// As ReadFileAgain, for bytes anywhere in the file: the fingerprint covers the bytes from
// fingerprintOffset, and at most maxLength bytes (to the end when negative) are read from offset.
RereadResult ReadFileRangeAgain(const QString& path, const FileIdentity& identity,
                                const FileFingerprint& fingerprint,
                                std::int64_t fingerprintOffset, std::int64_t offset,
                                std::int64_t maxLength);

} // namespace sorowa::platform
