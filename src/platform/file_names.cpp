#include "platform/file_names.h"

#include "platform/errors.h"

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace sorowa::platform {
namespace {

constexpr char32_t kEscapeBase = 0x10FF00;

bool IsEscapeCodePoint(char32_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// Length of the valid UTF-8 sequence at the start of bytes, and its code point; 0 if invalid.
std::size_t ValidSequence(std::string_view bytes, char32_t& codePoint) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (b0 < 0x80) {
        codePoint = b0;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, codePoint = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, codePoint = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, codePoint = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if ((b & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (b & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    return length;
}

void Append(QString& out, char32_t c) {
    if (c >= 0x10000) {
        const QChar pair[2] = {QChar::highSurrogate(c), QChar::lowSurrogate(c)};
        out.append(pair, 2);
    } else {
        out.append(QChar(static_cast<char16_t>(c)));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

QString DecodeFileName(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    while (!bytes.empty()) {
        char32_t c = 0;
        std::size_t length = ValidSequence(bytes, c);
        if (length == 0 || IsEscapeCodePoint(c)) {
            // An invalid byte, or every byte of a code point that is itself an escape.
            const std::size_t count = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < count; ++i)
                Append(out, kEscapeBase + static_cast<unsigned char>(bytes[i]));
            bytes.remove_prefix(count);
            continue;
        }
        Append(out, c);
        bytes.remove_prefix(length);
    }
    return out;
}

std::string EncodeFileName(const QString& name) {
    std::string out;
    out.reserve(static_cast<std::size_t>(name.size()));
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (IsEscapeCodePoint(c)) {
            out += static_cast<char>(c - kEscapeBase);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::vector<DirectoryEntry> ReadDirectory(const QString& folder) {
    const std::string path = EncodeFileName(folder);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
    if (!dir) {
        const int code = errno;
        throw EInOutError(SystemErrorText(code) + QStringLiteral(": ") + folder, code);
    }
    std::vector<DirectoryEntry> entries;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        bool isDirectory = entry->d_type == DT_DIR;
        bool isRegular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            const bool found = fstatat(dirfd(dir.get()), entry->d_name, &info, 0) == 0;
            isDirectory = found && S_ISDIR(info.st_mode);
            isRegular = found && S_ISREG(info.st_mode);
        }
        entries.push_back({DecodeFileName(name), isDirectory, isRegular});
    }
    return entries;
}

} // namespace sorowa::platform
