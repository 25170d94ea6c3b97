#pragma once
// Ways to make a file write fail that work even for root, who ignores permission bits.
//
//  - ImmutableFile: the file system's immutable attribute (what `chattr +i` sets). Needs
//    CAP_LINUX_IMMUTABLE and a file system that has the attribute; Set() says whether it
//    took, and the attribute is cleared again on destruction so the folder can be removed.
//  - FileSizeLimit: RLIMIT_FSIZE for the whole process, so that writing past the limit
//    fails with EFBIG the way a full disk fails with ENOSPC. SIGXFSZ is ignored meanwhile.

#include "platform/file_names.h"

#include <QString>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace sorowa::test {

class ImmutableFile {
public:
    explicit ImmutableFile(const QString& path) : path_(platform::EncodeFileName(path)) {}
    ~ImmutableFile() {
        if (set_) Change(false);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;

    bool Set() { return set_ = Change(true); }

private:
    bool Change(bool immutable) const {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    std::string path_;
    bool set_ = false;
};

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace sorowa::test
