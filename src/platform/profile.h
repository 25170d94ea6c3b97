#pragma once
// Values in an INI-style profile file: "[section]" lines open sections, "key=value" lines
// hold values. Section and key names match without regard to letter case; the first match
// wins. Every call opens the file for that one access and keeps nothing, so a change made
// by another program is seen at the next read.
//
// Reading never fails: a missing file, section or key gives the caller's default.
// Writing keeps every other byte of the file as it was (other sections and keys, comments,
// blank lines, spacing, line endings, and lines that are not understood at all, such as
// binary junk) and replaces the file atomically: the new text goes to a temporary file in
// the same folder, is flushed to disk and renamed over the old file, which keeps its
// permissions. A write that cannot be done throws EProfileWriteError and leaves the old
// file untouched. tests/platform/profile_test.cpp shows the policy on damaged files.
//
// Values are UTF-8; bytes that are not valid UTF-8 are carried in the QString the way
// file names are (platform/file_names.h), so a value written back keeps its bytes.

#include "platform/errors.h"

#include <QString>
#include <optional>
#include <string_view>

namespace sorowa::platform {

// "%s に書き込めません" with the file's full path. Code() is the system's error number.
class EProfileWriteError : public EWriteError {
public:
    EProfileWriteError(const QString& path, int code);
    int Code() const noexcept { return code_; }

private:
    int code_;
};

// Longest value text a read returns, in bytes; longer values are cut.
inline constexpr std::size_t kMaxProfileValueBytes = 2047;

class ProfileFile {
public:
    explicit ProfileFile(QString path) : path_(std::move(path)) {}
    const QString& Path() const noexcept { return path_; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Creates the file, the section and the key as needed, or replaces the key's value.
    void WriteString(const QString& section, const QString& key, const QString& value) const;

    // Integers are written in decimal and read with ParseProfileInteger.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    void WriteInteger(const QString& section, const QString& key, int value) const;

    // Booleans are written as "1" or "0"; any non-zero integer reads as true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    void WriteBool(const QString& section, const QString& key, bool value) const;

private:
    QString path_;
};

// A 32-bit signed integer: optional blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$", "0x" or "0X". Anything else (nothing at all, trailing
// characters, a value out of range) gives nullopt.
std::optional<int> ParseProfileInteger(std::string_view text);

} // namespace sorowa::platform
