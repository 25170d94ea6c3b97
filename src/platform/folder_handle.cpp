#include "platform/folder_handle.h"

#include "platform/file_names.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
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

bool IsPlainEntryName(const QString& name) {
    const std::string bytes = EncodeFileName(name);
    return !bytes.empty() && bytes != "." && bytes != ".." &&
           bytes.find('/') == std::string::npos && bytes.find('\0') == std::string::npos;
}

} // namespace sorowa::platform
