#include "picture/gif/gif_lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace sorowa::gif {
namespace {

constexpr std::uint32_t kTableSize = 4096;
constexpr int kMaxCodeWidth = 12;

// The sub-blocks joined into one run of bytes, so that a code may straddle two of them.
struct JoinedData {
    std::vector<std::uint8_t> bytes;
    std::size_t consumed = 0;
    bool prematureEnd = false;
};

JoinedData JoinSubBlocks(std::span<const std::uint8_t> data) {
    JoinedData joined;
    // First pass over the length bytes only, so that the join is one exact allocation.
    std::size_t total = 0;
    std::size_t pos = 0;
    while (pos < data.size() && data[pos] != 0) {
        const std::size_t length = data[pos++];
        const std::size_t take = std::min(length, data.size() - pos);
        total += take;
        pos += take;
    }
    joined.bytes.resize(total);
    pos = 0;
    std::size_t out = 0;
    for (;;) {
        if (pos >= data.size()) break; // no terminator: the data simply ends
        const std::size_t length = data[pos++];
        if (length == 0) break;
        std::size_t take = length;
        if (take > data.size() - pos) {
            joined.prematureEnd = true;
            take = data.size() - pos;
        }
        if (take > 0) std::memcpy(joined.bytes.data() + out, data.data() + pos, take);
        out += take;
        pos += take;
    }
    joined.consumed = pos;
    return joined;
}

// Codes least significant bit first from a run of bytes.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // Makes at least width bits available; false when the data has fewer left.
    bool Need(int width) {
        if (count_ >= width) return true;
        if (bytes_.size() - pos_ >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes_.data() + pos_, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            bits_ |= word << count_;
            pos_ += static_cast<std::size_t>((63 - count_) >> 3);
            count_ |= 56;
        } else {
            while (count_ <= 56 && pos_ < bytes_.size()) {
                bits_ |= static_cast<std::uint64_t>(bytes_[pos_++]) << count_;
                count_ += 8;
            }
        }
        return count_ >= width;
    }

    std::uint32_t Take(int width) {
        const auto code = static_cast<std::uint32_t>(bits_ & ((1u << width) - 1));
        bits_ >>= width;
        count_ -= width;
        return code;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    std::uint64_t bits_ = 0;
    int count_ = 0;
};

// Every string the table holds has already been written to the output once: an entry is the
// previous string followed by the first byte of the one after it, and those bytes lie side
// by side in the output. So an entry is kept as the place and length of its first appearance,
// and decoding a code is a copy from earlier output.
struct Table {
    std::array<std::uint32_t, kTableSize> start;
    std::array<std::uint16_t, kTableSize> length;
};

class Decoder {
public:
    Decoder(int minimumCodeSize, std::span<std::uint8_t> out)
        : clear_(1u << minimumCodeSize), end_(clear_ + 1), minimumCodeSize_(minimumCodeSize),
          base_(out.data()), out_(out.data()), outEnd_(out.data() + out.size()) {
        Restart();
    }

    // Runs until the end code, the last pixel or the end of the codes; true on an under-run.
    bool Run(BitReader& reader) {
        bool expectFirst = true; // the implicit clear code before the first code
        std::uint32_t previousStart = 0;
        std::uint32_t previousLength = 0;
        while (out_ != outEnd_) {
            if (!reader.Need(width_)) return true;
            const std::uint32_t code = reader.Take(width_);
            if (code == clear_) {
                Restart();
                expectFirst = true;
                continue;
            }
            if (code == end_) return false;
            const auto start = static_cast<std::uint32_t>(out_ - base_);
            std::uint32_t length = 1;
            if (code < clear_) {
                *out_++ = static_cast<std::uint8_t>(code);
            } else if (expectFirst) {
                // Nothing is defined above the clear code yet: such a code stands for 0.
                *out_++ = 0;
            } else if (code < nextFree_) {
                length = table_.length[code];
                Copy(table_.start[code], length);
            } else {
                // The code being defined right now: the previous string and its first byte.
                // Codes beyond it are taken the same way, so every code decodes to something.
                length = previousLength + 1;
                CopyPreviousPlusFirst(previousStart, previousLength);
            }
            if (expectFirst) {
                // The first code defines no entry, but it counts towards the width, as in
                // every common encoder (tests/data/gif/valid-code-size-1.gif).
                expectFirst = false;
            } else if (nextFree_ < kTableSize) {
                table_.start[nextFree_] = previousStart;
                table_.length[nextFree_] = static_cast<std::uint16_t>(previousLength + 1);
                ++nextFree_;
            }
            Grow();
            previousStart = start;
            previousLength = length;
        }
        // One more code after the last pixel, as an encoder's end code would be.
        return !reader.Need(width_);
    }

    std::uint8_t* Out() const { return out_; }

private:
    void Restart() {
        width_ = minimumCodeSize_ + 1;
        limit_ = 1u << width_;
        nextFree_ = clear_ + 2;
    }

    void Grow() {
        while (nextFree_ >= limit_ && width_ < kMaxCodeWidth) {
            limit_ <<= 1;
            ++width_;
        }
    }

    // Copies length bytes of earlier output, which end at or before the current position.
    void Copy(std::uint32_t from, std::size_t length) {
        const std::uint8_t* source = base_ + from;
        const auto room = static_cast<std::size_t>(outEnd_ - out_);
        if (length <= 16 && room >= 16) {
            // Short strings, the common case: two fixed-size moves. The bytes past length
            // are overwritten by the next code; all 16 lie inside the buffer.
            std::uint64_t a, b;
            std::memcpy(&a, source, 8);
            std::memcpy(&b, source + 8, 8);
            std::memcpy(out_, &a, 8);
            std::memcpy(out_ + 8, &b, 8);
            out_ += length;
            return;
        }
        const std::size_t n = std::min(length, room);
        std::memmove(out_, source, n);
        out_ += n;
    }

    void CopyPreviousPlusFirst(std::uint32_t from, std::size_t length) {
        const std::uint8_t first = base_[from];
        Copy(from, length);
        if (out_ != outEnd_) *out_++ = first;
    }

    Table table_;
    const std::uint32_t clear_;
    const std::uint32_t end_;
    const int minimumCodeSize_;
    int width_ = 0;
    std::uint32_t limit_ = 0;
    std::uint32_t nextFree_ = 0;
    std::uint8_t* const base_;
    std::uint8_t* out_;
    std::uint8_t* const outEnd_;
};

// Decoded rows arrive in the order 0, 8, 16, ..., 4, 12, ..., 2, 6, ..., 1, 3, ...
void Deinterlace(std::span<const std::uint8_t> decoded, std::span<std::uint8_t> pixels,
                 std::size_t width, std::size_t height) {
    static constexpr std::size_t kStart[4] = {0, 4, 2, 1};
    static constexpr std::size_t kStep[4] = {8, 8, 4, 2};
    std::size_t source = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (std::size_t row = kStart[pass]; row < height; row += kStep[pass]) {
            std::memcpy(pixels.data() + row * width, decoded.data() + source * width, width);
            ++source;
        }
}

} // namespace

LzwOutcome DecodeLzw(std::span<const std::uint8_t> data, int minimumCodeSize,
                     std::span<std::uint8_t> pixels, std::size_t width, std::size_t height,
                     bool interlaced) {
    LzwOutcome outcome;
    JoinedData joined = JoinSubBlocks(data);
    outcome.consumed = joined.consumed;
    outcome.prematureEnd = joined.prematureEnd;
    if (minimumCodeSize < 0 || minimumCodeSize > kMaxMinimumCodeSize) return outcome;

    // The caller sizes the buffer; a mismatch is a programming error that must not write
    // outside it.
    if (width != 0 && pixels.size() / width != height) return outcome;
    const std::size_t count = pixels.size();
    if (count == 0) return outcome;
    BitReader reader(joined.bytes);
    if (!interlaced || height <= 1) {
        auto decoder = std::make_unique<Decoder>(minimumCodeSize, pixels.first(count));
        outcome.bitBufferUnderrun = decoder->Run(reader);
        outcome.pixelsDecoded = static_cast<std::size_t>(decoder->Out() - pixels.data());
        return outcome;
    }
    // The buffer arrives filled with one value throughout, so a copy of it is a buffer filled
    // the same way for the rows that the data does not reach.
    std::vector<std::uint8_t> decoded(pixels.begin(), pixels.begin() + count);
    auto decoder = std::make_unique<Decoder>(minimumCodeSize, decoded);
    outcome.bitBufferUnderrun = decoder->Run(reader);
    outcome.pixelsDecoded = static_cast<std::size_t>(decoder->Out() - decoded.data());
    Deinterlace(decoded, pixels, width, height);
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
