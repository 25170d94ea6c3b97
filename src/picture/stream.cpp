#include "picture/stream.h"

#include "platform/errors.h"
#include "platform/file_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa {

std::int64_t TStream::Size() {
    const std::int64_t position = Position();
    const std::int64_t size = Seek(0, Origin::End);
    SetPosition(position);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
}

std::vector<std::uint8_t> TStream::ReadRemaining() {
    std::vector<std::uint8_t> bytes;
    const std::int64_t remaining = Size() - Position();
    if (remaining > 0) bytes.reserve(static_cast<std::size_t>(remaining));
    std::uint8_t chunk[65536];
    for (;;) {
        const std::int64_t got = Read(chunk, sizeof chunk);
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (count <= 0 || position_ >= size) return 0;
    const std::int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, Origin origin) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    std::int64_t base = origin == Origin::Begin ? 0 : origin == Origin::Current ? position_ : size;
    position_ = std::max<std::int64_t>(0, base + offset);
    return position_;
}

TFileStream::TFileStream(const QString& path) : path_(path) {
    const auto fail = [&] {
        throw EFOpenError(QStringLiteral("ファイル %1 は開けません").arg(path));
    };
    // Never blocks on a FIFO or a device that a name may turn out to be; only a regular file
    // is read, and never past the size it had when it was opened, so that a file that grows
    // without end (or is swapped for a link to /dev/zero) cannot keep a load going
    // (tests/workspace/hostile_folder_test.cpp).
    fd_ =
        open(platform::EncodeFileName(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) fail();
    struct stat info {};
    if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd_);
        fd_ = -1;
        fail();
    }
    size_ = info.st_size;
}

std::optional<platform::FileIdentity> TFileStream::Identity() const {
    return platform::IdentifyOpenFile(fd_);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<char*>(buffer);
    count = std::min(count, std::max<std::int64_t>(0, size_ - position_));
    std::int64_t total = 0;
    while (total < count) {
        const ssize_t got = pread(fd_, out + total, static_cast<std::size_t>(count - total),
                                  static_cast<off_t>(position_ + total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
        if (got == 0) break; // the file shrank since it was opened
        total += got;
    }
    position_ += total;
    return total;
}

std::int64_t TFileStream::Seek(std::int64_t offset, Origin origin) {
    const std::int64_t base = origin == Origin::Begin     ? 0
                              : origin == Origin::Current ? position_
                                                          : size_;
    if (offset < -base) throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
    position_ = base + offset;
    return position_;
}

} // namespace sorowa
