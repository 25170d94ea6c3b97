#include "platform/profile.h"

#include "platform/directories.h"
#include "platform/file_io.h"
#include "platform/file_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sorowa::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// One line of the file as offsets into its text: [begin, end) is the content without the
// line break, next is where the following line starts (== end on a last line without one).
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    // A UTF-8 byte order mark belongs to no line; it stays in the file.
    if (text.starts_with("\xEF\xBB\xBF")) begin = 3;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        if (newline == std::string_view::npos) {
            lines.push_back({begin, text.size(), text.size()});
            break;
        }
        lines.push_back({begin, newline, newline + 1});
        begin = newline + 1;
    }
    return lines;
}

// "[name]" with optional blanks around; anything after "]" is ignored. A "[" without "]"
// opens nothing: such a line is carried through as it is.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (!line.starts_with('[')) return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// "key=value"; positions of the value (blanks around it excluded) relative to the line.
struct Entry {
    std::string_view key;
    std::size_t valueBegin;
    std::size_t valueEnd;
};

std::optional<Entry> ParseEntry(std::string_view line) {
    const std::string_view content = Trim(line);
    if (content.empty() || content.front() == ';' || content.front() == '[') return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::size_t valueBegin = equals + 1;
    std::size_t valueEnd = line.size();
    while (valueBegin < valueEnd && IsBlank(line[valueBegin]))
        ++valueBegin;
    while (valueEnd > valueBegin && IsBlank(line[valueEnd - 1]))
        --valueEnd;
    return Entry{Trim(line.substr(0, equals)), valueBegin, valueEnd};
}

bool NamesMatch(std::string_view inFile, const QString& wanted) {
    return DecodeFileName(inFile).compare(wanted, Qt::CaseInsensitive) == 0;
}

// Where a key is, or where it would go. Only the first section of the name counts, and in
// it the first entry of the key.
struct Location {
    std::optional<std::size_t> sectionLine;
    std::optional<std::size_t> lastEntryLine; // header, or the section's last "key=value"
    std::size_t valueBegin = 0;               // absolute offsets; valid when found
    std::size_t valueEnd = 0;
    bool found = false;
};

Location Find(std::string_view text, const std::vector<Line>& lines, const QString& section,
              const QString& key) {
    Location location;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (const auto name = SectionName(line)) {
            if (location.sectionLine) break;
            if (NamesMatch(*name, section)) location.sectionLine = location.lastEntryLine = i;
            continue;
        }
        if (!location.sectionLine) continue;
        if (const auto entry = ParseEntry(line)) {
            if (NamesMatch(entry->key, key)) {
                location.valueBegin = lines[i].begin + entry->valueBegin;
                location.valueEnd = lines[i].begin + entry->valueEnd;
                location.found = true;
                return location;
            }
            location.lastEntryLine = i;
        }
    }
    return location;
}

// New lines follow the file's own convention, judged by its first line break.
std::string_view LineBreak(std::string_view text) {
    const std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

std::string WithValue(std::string_view text, const QString& section, const QString& key,
                      std::string_view sectionBytes, std::string_view keyBytes,
                      std::string_view value) {
    const std::vector<Line> lines = SplitLines(text);
    const Location location = Find(text, lines, section, key);
    std::string out;
    out.reserve(text.size() + sectionBytes.size() + keyBytes.size() + value.size() + 8);
    if (location.found) {
        out.append(text.substr(0, location.valueBegin));
        out.append(value);
        out.append(text.substr(location.valueEnd));
        return out;
    }
    const std::string_view lineBreak = LineBreak(text);
    std::string entry(keyBytes);
    entry.append("=").append(value).append(lineBreak);
    if (location.sectionLine) {
        const Line& after = lines[*location.lastEntryLine];
        out.append(text.substr(0, after.next));
        if (after.next == after.end) out.append(lineBreak); // the file's last line had none
        out.append(entry);
        out.append(text.substr(after.next));
        return out;
    }
    out.append(text);
    if (!text.empty() && !text.ends_with('\n')) out.append(lineBreak);
    out.append("[").append(sectionBytes).append("]").append(lineBreak).append(entry);
    return out;
}

struct FileText {
    std::string bytes;
    struct stat info {};
};

// Reads the whole regular file; returns 0 or the system's error number.
int ReadWholeFile(const std::string& path, FileText& out) {
    // O_NONBLOCK: a FIFO put where the settings file should be must not hang the program.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return errno;
    if (fstat(fd.Get(), &out.info) != 0) return errno;
    if (!S_ISREG(out.info.st_mode)) return S_ISDIR(out.info.st_mode) ? EISDIR : EINVAL;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return 0;
        out.bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string TemporaryName(const std::string& folderPrefix, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    return folderPrefix + '.' + base + '.' + std::to_string(getpid()) + '.' +
           std::to_string(counter++) + ".tmp";
}

// Writes bytes to a new file beside target and renames it over target; returns 0 or the
// system's error number, and on failure leaves target as it was and no temporary behind.
int ReplaceFile(const std::string& target, std::string_view bytes, const struct stat* old) {
    const std::size_t slash = target.rfind('/');
    const std::string folderPrefix =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary;
    int fdValue = -1;
    for (int attempt = 0; attempt < 100 && fdValue < 0; ++attempt) {
        temporary = TemporaryName(folderPrefix, base);
        // A new file gets the usual mode less the umask; an old file's mode is copied below.
        fdValue = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                         old != nullptr ? 0600 : 0666);
        if (fdValue < 0 && errno != EEXIST) return errno;
    }
    if (fdValue < 0) return EEXIST;
    FileDescriptor fd(fdValue);
    const auto fail = [&](int code) {
        if (fd.Get() >= 0) fd.Close();
        ::unlink(temporary.c_str());
        return code;
    };
    if (old != nullptr) {
        if (fchmod(fd.Get(), old->st_mode & 07777) != 0) return fail(errno);
        if (old->st_uid != geteuid() || old->st_gid != getegid()) {
            // Only a privileged user may give the file back to its owner; otherwise the
            // replacement belongs to whoever wrote it, as any rewrite would.
            [[maybe_unused]] const int ignored = fchown(fd.Get(), old->st_uid, old->st_gid);
        }
    }
    if (const int code = WriteAll(fd.Get(), bytes); code != 0) return fail(code);
    if (fsync(fd.Get()) != 0) return fail(errno);
    if (fd.Close() != 0) return fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(errno);
    // The rename itself must reach the disk too; if this fails, the new file is in place
    // all the same, so it is not reported.
    SyncFolder(folderPrefix.empty() ? std::string(".") : folderPrefix);
    return 0;
}

bool OwnedByUser(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_uid == geteuid();
}

// Where a write of the settings file goes. Writing through a symbolic link replaces the file
// it points at and keeps the link, but only where that file and its folder are the user's
// own (a settings file kept elsewhere by choice). A link to anything else may have been put
// there to make the program rewrite another's file: the link itself is replaced then.
struct WriteTarget {
    std::string path;
    bool linkReplaced = false;
};

WriteTarget ResolveLink(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return {path};
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return {path, true};
    const std::string target = resolved;
    const std::string folder = target.substr(0, std::max<std::size_t>(target.rfind('/'), 1));
    if (OwnedByUser(target) && OwnedByUser(folder)) return {target, false};
    return {path, true};
}

// Names that would change the file's structure if written: line breaks anywhere, "]" in a
// section name, "=" in a key, a key that would read as a section or a comment.
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
    const auto hasBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (section.empty() || hasBreak(section) || section.find(']') != std::string_view::npos)
        return false;
    if (key.empty() || hasBreak(key) || key.find('=') != std::string_view::npos) return false;
    if (key.front() == '[' || key.front() == ';' || Trim(key) != key || Trim(section) != section)
        return false;
    return !hasBreak(value);
}

QString AbsolutePath(const QString& path) {
    if (path.startsWith(u'/')) return path;
    return CurrentDirectory() + u'/' + path;
}

std::optional<std::string> ReadValue(const QString& path, const QString& section,
                                     const QString& key) {
    FileText file;
    if (ReadWholeFile(EncodeFileName(path), file) != 0) return std::nullopt;
    const std::vector<Line> lines = SplitLines(file.bytes);
    const Location location = Find(file.bytes, lines, section, key);
    if (!location.found) return std::nullopt;
    return file.bytes.substr(location.valueBegin, location.valueEnd - location.valueBegin);
}

int DigitValue(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

EProfileWriteError::EProfileWriteError(const QString& path, int code)
    : EWriteError(QStringLiteral("%1 に書き込めません").arg(AbsolutePath(path))), code_(code) {}

QString ProfileFile::ReadString(const QString& section, const QString& key,
                                const QString& defaultValue) const {
    std::optional<std::string> value = ReadValue(path_, section, key);
    if (!value) return defaultValue;
    if (value->size() > kMaxProfileValueBytes) {
        // Cut at a character boundary rather than through a multi-byte character.
        std::size_t length = kMaxProfileValueBytes;
        while (length > kMaxProfileValueBytes - 3 &&
               (static_cast<unsigned char>((*value)[length]) & 0xC0) == 0x80)
            --length;
        value->resize(length);
    }
    return DecodeFileName(*value);
}

void ProfileFile::WriteString(const QString& section, const QString& key,
                              const QString& value) const {
    const std::string sectionBytes = EncodeFileName(section);
    const std::string keyBytes = EncodeFileName(key);
    const std::string valueBytes = EncodeFileName(value);
    if (!Writable(sectionBytes, keyBytes, valueBytes)) throw EProfileWriteError(path_, EINVAL);

    const WriteTarget where = ResolveLink(EncodeFileName(path_));
    const std::string& target = where.path;
    FileText old;
    const int readResult = ReadWholeFile(target, old);
    const bool exists = readResult == 0;
    // A file that exists but cannot be read is never overwritten: its contents would be lost.
    if (!exists && readResult != ENOENT) throw EProfileWriteError(path_, readResult);
    // Renaming over a file needs only the folder's permission; the file's own read-only
    // flag (or immutable attribute) is honoured here so that it keeps protecting the file.
    if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        throw EProfileWriteError(path_, errno);

    const std::string updated =
        WithValue(old.bytes, section, key, sectionBytes, keyBytes, valueBytes);
    // A replaced link gives the new file nothing of what it pointed at: no mode, no owner.
    const bool keepMode = exists && !where.linkReplaced;
    if (const int code = ReplaceFile(target, updated, keepMode ? &old.info : nullptr); code != 0)
        throw EProfileWriteError(path_, code);
}

int ProfileFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<std::string> value = ReadValue(path_, section, key);
    if (!value) return defaultValue;
    return ParseProfileInteger(*value).value_or(defaultValue);
}

void ProfileFile::WriteInteger(const QString& section, const QString& key, int value) const {
    WriteString(section, key, QString::number(value));
}

bool ProfileFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void ProfileFile::WriteBool(const QString& section, const QString& key, bool value) const {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

std::optional<int> ParseProfileInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (text.size() - i >= 2 && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    constexpr std::int64_t kLimit = std::int64_t{INT_MAX} + 1; // magnitude of INT_MIN
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > kLimit) return std::nullopt;
    }
    if (!negative && magnitude == kLimit) return std::nullopt;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

} // namespace sorowa::platform
