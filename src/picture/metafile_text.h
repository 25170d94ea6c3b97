#pragma once
// Text of metafile records in the character set of the font that draws it.

#include "picture/gdi.h"

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

namespace sorowa::metafile {

// One character of a byte string and how many bytes it took.
struct CharacterBytes {
    QString text;
    int bytes = 1;
};

// bytes split into characters and converted from the font's character set. The default
// character set is the system's, Shift-JIS here. A byte that the set does not define
// comes out as U+FFFD.
std::vector<CharacterBytes> DecodeCharacters(std::span<const std::uint8_t> bytes, int charset);
QString DecodeText(std::span<const std::uint8_t> bytes, int charset);

} // namespace sorowa::metafile
