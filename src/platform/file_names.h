#pragma once
// File names on Linux are bytes. The program holds them as QString; names that are not
// valid UTF-8 must still round-trip, so each byte that is not part of a valid UTF-8
// sequence becomes the code point U+10FF00 + byte (bytes 0x80..0xFF give U+10FF80..U+10FFFF)
// and turns back into that byte on the way out. Those code points are also escaped when
// they occur in a valid name, which keeps the mapping one-to-one.

#include <QString>
#include <string>
#include <string_view>
#include <vector>

namespace sorowa::platform {

QString DecodeFileName(std::string_view bytes);
std::string EncodeFileName(const QString& name);

struct DirectoryEntry {
    QString name;
    bool isDirectory = false;
    // A regular file, or a symbolic link to one. FIFOs, sockets, devices and links to them
    // (or links that lead nowhere) are not: reading them may block or never end.
    bool isRegular = false;
};

// Every entry of folder except "." and "..", in the order the system gives them.
// Throws EInOutError when the folder cannot be read.
std::vector<DirectoryEntry> ReadDirectory(const QString& folder);

} // namespace sorowa::platform
