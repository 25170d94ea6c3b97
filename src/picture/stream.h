#pragma once
// Byte streams that the picture classes load from: a file or a block of memory.

#include "platform/file_identity.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace sorowa {

class TStream {
public:
    enum class Origin { Begin, Current, End };

    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, Origin origin) = 0;

    std::int64_t Position() { return Seek(0, Origin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, Origin::Begin); }
    std::int64_t Size();
    // Reads exactly count bytes or throws EReadError ("ストリームからの読み込みエラー").
    void ReadBuffer(void* buffer, std::int64_t count);
    // Every byte from the current position to the end.
    std::vector<std::uint8_t> ReadRemaining();
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, Origin origin) override;
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
};

// A regular file (or a link to one) opened for reading without blocking; throws EFOpenError
// ("ファイル %s は開けません") when it cannot be opened or is anything else (a FIFO, socket or
// device). It reads at most the size the file had when it was opened.
class TFileStream : public TStream {
public:
    explicit TFileStream(const QString& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, Origin origin) override;

    const QString& Path() const { return path_; }
    // What identifies the open file, so that it can be found and read again later; nullopt
    // when it is not a regular file.
    std::optional<platform::FileIdentity> Identity() const;

private:
    QString path_;
    int fd_ = -1;
    std::int64_t size_ = 0;     // as seen when opened
    std::int64_t position_ = 0; // reads use pread from here
};

} // namespace sorowa
