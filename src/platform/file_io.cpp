#include "platform/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sorowa::platform {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return ENOSPC;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return 0;
}

int SyncFolder(const std::string& folder) {
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) return errno;
    return ::fsync(fd.Get()) == 0 ? 0 : errno;
}

} // namespace sorowa::platform
