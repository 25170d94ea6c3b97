#include "platform/folder_handle.h"

#include "platform/file_names.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace sorowa::platform {

FolderHandle::FolderHandle(const QString& path) : path_(path) {
    const std::string bytes = EncodeFileName(path);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(bytes.c_str(), nullptr),
                                                     &std::free);
    if (!real) {
        error_ = errno;
        return;
    }
    fd_ = ::open(real.get(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) error_ = errno;
}

FolderHandle::~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> EntryNames(const FolderHandle& folder) {
    std::vector<std::string> names;
    if (!folder.IsOpen()) return names;
    // A descriptor of its own: reading a folder moves the descriptor's position.
    const int fd = ::openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
    if (!listing) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

bool IsPlainEntryName(const QString& name) {
    const std::string bytes = EncodeFileName(name);
    return !bytes.empty() && bytes != "." && bytes != ".." &&
           bytes.find('/') == std::string::npos && bytes.find('\0') == std::string::npos;
}

} // namespace sorowa::platform
