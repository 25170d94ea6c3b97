#pragma once
// A folder opened once for a run of renames. Every later call on its entries goes through the
// descriptor (renameat2, linkat, unlinkat, openat, fstatat), so they all reach the folder that
// was opened, even if its path comes to name another one meanwhile (the folder moved away and
// a symbolic link to somewhere else put in its place).

#include <QString>
#include <string>
#include <vector>

namespace sorowa::platform {

class FolderHandle {
public:
    // Opens the folder that path names now. A path through symbolic links is resolved first,
    // so a folder the user reached by a link still opens; what is opened is then the real
    // folder itself, never a link that took its place after the look-up.
    explicit FolderHandle(const QString& path);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    int Error() const { return error_; } // errno of the failed open, else 0
    const QString& Path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
    int error_ = 0;
};

// The raw names of every entry of folder but "." and ".."; empty when it cannot be read.
std::vector<std::string> EntryNames(const FolderHandle& folder);

// An entry name that can only ever mean an entry of the folder itself: not empty, not "." or
// "..", no "/" and no NUL byte (checked on the bytes the name is stored as).
bool IsPlainEntryName(const QString& name);

} // namespace sorowa::platform
