#include "picture/gif/gif_lzw.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace sorowa::gif {
namespace {

constexpr std::uint32_t kTableSize = 4096;
constexpr int kMaxCodeWidth = 12;

// Where the sub-blocks end: after the zero-length terminator, or at the end of the data.
struct SubBlockExtent {
    std::size_t consumed = 0;
    bool prematureEnd = false;
};

SubBlockExtent ScanSubBlocks(std::span<const std::uint8_t> data) {
    SubBlockExtent extent;
    std::size_t pos = 0;
    for (;;) {
        if (pos >= data.size()) break; // no terminator: the data simply ends
        const std::size_t length = data[pos++];
        if (length == 0) break;
        if (length > data.size() - pos) {
            extent.prematureEnd = true;
            pos = data.size();
            break;
        }
        pos += length;
    }
    extent.consumed = pos;
    return extent;
}

// Codes least significant bit first, read from the sub-blocks where they lie in the file: a
// code may straddle two blocks, and the length bytes between them are stepped over. A plain
// value, so that the decoding loop can keep it in registers.
struct BitReader {
    const std::uint8_t* pos;      // next byte to take
    const std::uint8_t* blockEnd; // end of the current sub-block's bytes
    const std::uint8_t* end;      // end of the data, or just after the terminator once met
    std::uint64_t bits = 0;
    int count = 0; // bits held

    explicit BitReader(std::span<const std::uint8_t> data)
        : pos(data.data()), blockEnd(data.data()), end(data.data() + data.size()) {}

    // Makes at least width bits available; false when the data has fewer left.
    bool Need(int width) {
        if (count >= width) return true;
        if (blockEnd - pos >= 8) {
            // Eight bytes of the current block at once; the ones that do not fit whole are
            // read again next time. Fewer than 16 bits are held here.
            std::uint64_t word = 0;
            std::memcpy(&word, pos, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            bits |= word << count;
            pos += static_cast<std::size_t>((63 - count) >> 3);
            count |= 56;
            return true;
        }
        const BitReader refilled = RefilledAcrossBlocks(*this);
        *this = refilled;
        return count >= width;
    }

    std::uint32_t Take(int width) {
        const auto code = static_cast<std::uint32_t>(bits & ((1u << width) - 1));
        bits >>= width;
        count -= width;
        return code;
    }

    // Byte by byte near the end of a sub-block. Takes and returns a copy, so that the
    // caller's reader never has its address taken.
    [[gnu::noinline]] static BitReader RefilledAcrossBlocks(BitReader reader) {
        while (reader.count <= 56) {
            if (reader.pos == reader.blockEnd && !reader.NextBlock()) break;
            reader.bits |= static_cast<std::uint64_t>(*reader.pos++) << reader.count;
            reader.count += 8;
        }
        return reader;
    }

    // Steps over the next length byte; false at the terminator or the end of the data.
    bool NextBlock() {
        while (pos != end) {
            const std::size_t length = *pos++;
            if (length == 0) {
                end = pos; // nothing after the terminator belongs to this image
                break;
            }
            blockEnd = pos + std::min(length, static_cast<std::size_t>(end - pos));
            if (blockEnd != pos) return true;
        }
        blockEnd = pos;
        return false;
    }
};

// Every string the table holds has already been written to the output once: an entry is the
// previous string followed by the first byte of the one after it, and those bytes lie side
// by side in the output. So an entry is kept as the place and length of its first appearance,
// and decoding a code is a copy from earlier output.
struct Entry {
    std::uint32_t start;
    std::uint32_t length;
};

// Copies length bytes of earlier output, which end at or before out, to out; returns the new
// end of the output. May write garbage up to 16 bytes past the copied ones, never past
// outEnd: the next code overwrites it, or the fill after the last code does.
inline std::uint8_t* CopyEarlier(std::uint8_t* out, std::uint8_t* outEnd,
                                 const std::uint8_t* source, std::size_t length) {
    const auto room = static_cast<std::size_t>(outEnd - out);
    if (length < room && room - length >= 16) {
        // In steps of 16, each read whole before it is written. The string lies wholly before
        // out, so where a step reads what an earlier one wrote, that is past the string's end.
        std::size_t done = 0;
        do {
            std::uint8_t chunk[16];
            std::memcpy(chunk, source + done, 16);
            std::memcpy(out + done, chunk, 16);
            done += 16;
        } while (done < length);
        return out + length;
    }
    const std::size_t n = std::min(length, room);
    std::memmove(out, source, n);
    return out + n;
}

// Decodes into out[0, size) until the end code, the last pixel or the end of the codes.
// Returns the number of pixels written; underrun tells whether the codes ran out.
std::size_t Decode(std::span<const std::uint8_t> data, int minimumCodeSize, std::uint8_t* base,
                   std::size_t size, bool& underrun) {
    // All state lives in locals: the output is bytes, which the compiler must assume may
    // alias any member it would otherwise have to reload after every write.
    const std::uint32_t clear = 1u << minimumCodeSize;
    const std::uint32_t end = clear + 1;
    const std::uint32_t firstFree = clear + 2;
    const int firstWidth = minimumCodeSize + 1;
    const auto table = std::make_unique_for_overwrite<Entry[]>(kTableSize);
    Entry* const entries = table.get();
    BitReader reader(data);
    std::uint8_t* out = base;
    std::uint8_t* const outEnd = base + size;
    int width = firstWidth;
    std::uint32_t limit = 1u << width;
    std::uint32_t nextFree = firstFree;
    bool expectFirst = true; // the implicit clear code before the first code
    std::uint32_t previousStart = 0;
    std::uint32_t previousLength = 0;
    underrun = false;
    while (out != outEnd) {
        if (!reader.Need(width)) {
            underrun = true;
            return static_cast<std::size_t>(out - base);
        }
        const std::uint32_t code = reader.Take(width);
        const auto start = static_cast<std::uint32_t>(out - base);
        std::uint32_t length = 1;
        if (code >= firstFree && code < nextFree) {
            // The common case first. Never true right after a clear code: nothing is
            // defined above it yet.
            const Entry entry = entries[code];
            length = entry.length;
            out = CopyEarlier(out, outEnd, base + entry.start, length);
        } else if (code < clear) {
            *out++ = static_cast<std::uint8_t>(code);
        } else if (code == clear) {
            width = firstWidth;
            limit = 1u << width;
            nextFree = firstFree;
            expectFirst = true;
            continue;
        } else if (code == end) {
            return static_cast<std::size_t>(out - base);
        } else if (expectFirst) {
            // Nothing is defined above the clear code yet: such a code stands for 0.
            *out++ = 0;
        } else {
            // The code being defined right now: the previous string and its first byte.
            // Codes beyond it are taken the same way, so every code decodes to something.
            length = previousLength + 1;
            const std::uint8_t first = base[previousStart];
            out = CopyEarlier(out, outEnd, base + previousStart, previousLength);
            if (out != outEnd) *out++ = first;
        }
        if (expectFirst) {
            // The first code defines no entry, but it counts towards the width, as in
            // every common encoder (tests/data/gif/valid-code-size-1.gif).
            expectFirst = false;
        } else if (nextFree < kTableSize) {
            entries[nextFree] = Entry{previousStart, previousLength + 1};
            ++nextFree;
        }
        while (nextFree >= limit && width < kMaxCodeWidth) {
            limit <<= 1;
            ++width;
        }
        previousStart = start;
        previousLength = length;
    }
    // One more code after the last pixel, as an encoder's end code would be.
    underrun = !reader.Need(width);
    return size;
}

// Decoded rows arrive in the order 0, 8, 16, ..., 4, 12, ..., 2, 6, ..., 1, 3, ...; the
// first decodedCount bytes of decoded hold pixels, rows past them get fill.
void Deinterlace(const std::uint8_t* decoded, std::size_t decodedCount,
                 std::span<std::uint8_t> pixels, std::size_t width, std::size_t height,
                 std::uint8_t fill) {
    static constexpr std::size_t kStart[4] = {0, 4, 2, 1};
    static constexpr std::size_t kStep[4] = {8, 8, 4, 2};
    std::size_t source = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (std::size_t row = kStart[pass]; row < height; row += kStep[pass]) {
            std::uint8_t* target = pixels.data() + row * width;
            const std::size_t from = source * width;
            const std::size_t have = decodedCount > from ? std::min(width, decodedCount - from) : 0;
            if (have > 0) std::memcpy(target, decoded + from, have);
            if (have < width) std::memset(target + have, fill, width - have);
            ++source;
        }
}

} // namespace

LzwOutcome DecodeLzw(std::span<const std::uint8_t> data, int minimumCodeSize,
                     std::span<std::uint8_t> pixels, std::size_t width, std::size_t height,
                     bool interlaced, std::uint8_t fill) {
    LzwOutcome outcome;
    const SubBlockExtent extent = ScanSubBlocks(data);
    outcome.consumed = extent.consumed;
    outcome.prematureEnd = extent.prematureEnd;
    const std::size_t count = pixels.size();
    // The caller sizes the buffer; a mismatch is a programming error that must not write
    // outside it.
    const bool sizeMismatch = width == 0 || count / width != height || count % width != 0;
    if (minimumCodeSize < 0 || minimumCodeSize > kMaxMinimumCodeSize || count == 0 ||
        sizeMismatch) {
        std::fill(pixels.begin(), pixels.end(), fill);
        return outcome;
    }
    if (!interlaced || height <= 1) {
        // Straight into the frame's own memory, with no copy: the decoded pixels, then the fill
        // after them.
        outcome.pixelsDecoded = Decode(data.first(extent.consumed), minimumCodeSize, pixels.data(),
                                       count, outcome.bitBufferUnderrun);
        std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(outcome.pixelsDecoded), pixels.end(),
                  fill);
        return outcome;
    }
    // Strings are copies of earlier output in decoding order, so the rows are put in place
    // once all are decoded.
    const auto decoded = std::make_unique_for_overwrite<std::uint8_t[]>(count);
    outcome.pixelsDecoded = Decode(data.first(extent.consumed), minimumCodeSize, decoded.get(),
                                   count, outcome.bitBufferUnderrun);
    Deinterlace(decoded.get(), outcome.pixelsDecoded, pixels, width, height, fill);
    return outcome;
}

std::uint64_t LzwPixelBound(std::span<const std::uint8_t> data, int minimumCodeSize) {
    std::uint64_t bytes = 0;
    for (std::size_t pos = 0; pos < data.size() && data[pos] != 0;) {
        const std::size_t length = data[pos++];
        const std::size_t take = std::min(length, data.size() - pos);
        bytes += take;
        pos += take;
    }
    const std::uint64_t codes = bytes * 8 / static_cast<std::uint64_t>(minimumCodeSize + 1);
    constexpr std::uint64_t kLongest = kTableSize; // no string is longer than the table
    if (codes < kLongest) return codes * (codes + 3) / 2;
    return (kLongest - 1) * (kLongest + 2) / 2 + (codes - (kLongest - 1)) * kLongest;
}

} // namespace sorowa::gif
