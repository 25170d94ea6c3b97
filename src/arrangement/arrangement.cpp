#include "arrangement/arrangement.h"

#include "platform/file_names.h"

#include <QHash>
#include <QSet>
#include <charconv>

namespace sorowa::arrangement {
namespace {

constexpr std::string_view kHeaderLine = "sorowa-arrangement 1";
constexpr std::string_view kFolderKey = "folder ";
constexpr std::string_view kEndKey = "end ";

bool Escaped(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f || byte == '%';
}

void AppendEscaped(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!Escaped(byte)) {
            out += c;
            continue;
        }
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xf];
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Only the form AppendEscaped writes: every byte it escapes escaped, nothing else.
std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte != '%') {
            if (Escaped(byte)) return std::nullopt;
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const auto decoded = static_cast<unsigned char>(high * 16 + low);
        if (!Escaped(decoded)) return std::nullopt;
        out += static_cast<char>(decoded);
        i += 2;
    }
    return out;
}

// A decimal number exactly as std::to_string writes it.
std::optional<std::int64_t> ParseNumber(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || std::to_string(value) != text) return std::nullopt;
    return value;
}

bool PlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Splits off the next line; nullopt when the text has no further line feed (a cut-off file).
std::optional<std::string_view> NextLine(std::string_view& text) {
    const std::size_t feed = text.find('\n');
    if (feed == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, feed);
    text.remove_prefix(feed + 1);
    return line;
}

TParseResult Failed(TParseError error) {
    return {std::nullopt, error};
}

std::optional<TArrangedFile> ParseEntry(std::string_view line, TParseError& error) {
    error = TParseError::kEntry;
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto size = ParseNumber(line.substr(0, first));
    const auto time = ParseNumber(line.substr(first + 1, second - first - 1));
    const auto name = Unescape(line.substr(second + 1));
    if (!size || *size < 0 || !time || !name) return std::nullopt;
    error = TParseError::kName;
    if (!PlainName(*name)) return std::nullopt;
    return TArrangedFile{platform::DecodeFileName(*name), *size, *time};
}

} // namespace

QStringList RestoredOrder(const std::vector<TArrangedFile>& saved,
                          const std::vector<TArrangedFile>& present) {
    QHash<QString, std::size_t> byName;
    for (std::size_t i = 0; i < present.size(); ++i)
        byName.insert(present[i].name, i);
    std::vector<bool> placed(present.size(), false);
    QStringList order;
    order.reserve(static_cast<qsizetype>(present.size()));
    for (const TArrangedFile& file : saved) {
        const auto found = byName.constFind(file.name);
        if (found == byName.cend() || placed[*found] || !(present[*found] == file)) continue;
        placed[*found] = true;
        order << file.name;
    }
    for (std::size_t i = 0; i < present.size(); ++i)
        if (!placed[i]) order << present[i].name;
    return order;
}

QStringList NamesOf(const std::vector<TArrangedFile>& files) {
    QStringList names;
    names.reserve(static_cast<qsizetype>(files.size()));
    for (const TArrangedFile& file : files)
        names << file.name;
    return names;
}

std::string FormatArrangement(const TArrangement& arrangement) {
    std::string text;
    text.reserve(64 + arrangement.files.size() * 48);
    text += kHeaderLine;
    text += '\n';
    text += kFolderKey;
    AppendEscaped(text, platform::EncodeFileName(arrangement.folder));
    text += '\n';
    for (const TArrangedFile& file : arrangement.files) {
        text += std::to_string(file.size);
        text += ' ';
        text += std::to_string(file.modifiedNs);
        text += ' ';
        AppendEscaped(text, platform::EncodeFileName(file.name));
        text += '\n';
    }
    text += kEndKey;
    text += std::to_string(arrangement.files.size());
    text += '\n';
    return text;
}

TParseResult ParseArrangement(std::string_view text) {
    const auto header = NextLine(text);
    if (!header || *header != kHeaderLine) return Failed(TParseError::kHeader);
    const auto folderLine = NextLine(text);
    if (!folderLine || !folderLine->starts_with(kFolderKey)) return Failed(TParseError::kFolder);
    const auto folder = Unescape(folderLine->substr(kFolderKey.size()));
    if (!folder || !folder->starts_with('/') || folder->find('\0') != std::string::npos)
        return Failed(TParseError::kFolder);

    TArrangement arrangement;
    arrangement.folder = platform::DecodeFileName(*folder);
    QSet<QString> names;
    for (;;) {
        const auto line = NextLine(text);
        if (!line) return Failed(TParseError::kEnd);
        if (line->starts_with(kEndKey)) {
            const auto count = ParseNumber(line->substr(kEndKey.size()));
            if (!count || static_cast<std::uint64_t>(*count) != arrangement.files.size())
                return Failed(TParseError::kEnd);
            break;
        }
        TParseError error{};
        std::optional<TArrangedFile> file = ParseEntry(*line, error);
        if (!file) return Failed(error);
        if (names.contains(file->name)) return Failed(TParseError::kDuplicate);
        names.insert(file->name);
        arrangement.files.push_back(std::move(*file));
    }
    if (!text.empty()) return Failed(TParseError::kTrailingText);
    return {std::move(arrangement), TParseError::kHeader};
}

} // namespace sorowa::arrangement
