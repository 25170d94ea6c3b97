#pragma once
// Test-only helpers: LZW codes written at chosen widths, and data sub-blocks.

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace sorowa::giftest {

// Codes packed least significant bit first, each at its own width.
inline std::vector<std::uint8_t> PackCodes(std::initializer_list<std::pair<int, int>> codes) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int count = 0;
    for (const auto& [code, width] : codes) {
        acc |= static_cast<std::uint32_t>(code) << count;
        count += width;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    if (count > 0) out.push_back(static_cast<std::uint8_t>(acc));
    return out;
}

// bytes split into sub-blocks of at most size bytes, with the zero terminator when asked.
inline std::vector<std::uint8_t> SubBlocks(const std::vector<std::uint8_t>& bytes, std::size_t size,
                                           bool terminator = true) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < bytes.size(); i += size) {
        const std::size_t n = std::min(size, bytes.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                   bytes.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    if (terminator) out.push_back(0);
    return out;
}

} // namespace sorowa::giftest
