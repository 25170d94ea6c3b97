#pragma once
// What the plug-in picture's load and its deferred decode agree on about a plug-in's input.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace sorowa::spi_input {

// Plug-ins are always handed at least this many bytes (a shorter file is padded with zeros).
constexpr std::size_t kMinimumData = 2048;
// The interface counts a picture's bytes in 32 bits.
constexpr std::int64_t kMaxPluginInput = std::numeric_limits<std::int32_t>::max();

// The extension of a path, "." included: from its last "." when no "/" follows.
inline QString DottedExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0) return {};
    return path.mid(dot);
}

inline bool SameAsciiCase(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0 && a.size() == b.size();
}

} // namespace sorowa::spi_input
