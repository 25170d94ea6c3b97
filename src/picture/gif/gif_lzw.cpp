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

struct Table {
    std::array<std::uint16_t, kTableSize> prefix;
    std::array<std::uint16_t, kTableSize> length;
    std::array<std::uint8_t, kTableSize> suffix;
    std::array<std::uint8_t, kTableSize> first;
};

// Codes below the clear code stand for themselves; every other entry expands to a single 0
// until the decoder defines it.
void ResetTable(Table& table, std::uint32_t clear, std::uint32_t upTo) {
    for (std::uint32_t i = 0; i < upTo; ++i) {
        const bool literal = i < clear;
        table.prefix[i] = 0;
        table.length[i] = 1;
        table.suffix[i] = literal ? static_cast<std::uint8_t>(i) : 0;
        table.first[i] = table.suffix[i];
    }
}

class Decoder {
public:
    Decoder(int minimumCodeSize, std::span<std::uint8_t> out)
        : clear_(1u << minimumCodeSize), end_(clear_ + 1), minimumCodeSize_(minimumCodeSize),
          out_(out.data()), outEnd_(out.data() + out.size()) {
        ResetTable(table_, clear_, kTableSize);
        Restart();
    }

    // Runs until the end code, the last pixel or the end of the codes; true on an under-run.
    bool Run(BitReader& reader) {
        bool expectFirst = true; // the implicit clear code before the first code
        std::uint32_t previous = 0;
        while (out_ != outEnd_) {
            if (!reader.Need(width_)) return true;
            std::uint32_t code = reader.Take(width_);
            if (code == clear_) {
                ResetTable(table_, clear_, nextFree_);
                Restart();
                expectFirst = true;
                continue;
            }
            if (code == end_) return false;
            if (expectFirst) {
                Emit(code);
                previous = code;
                expectFirst = false;
                // The first code defines no entry, but it counts towards the width, as in
                // every common encoder (tests/data/gif/valid-code-size-1.gif).
                Grow();
                continue;
            }
            if (code >= nextFree_) {
                // The code being defined right now: the previous string and its first byte.
                // Codes beyond it are taken the same way, so every code decodes to something.
                if (nextFree_ < kTableSize) {
                    code = nextFree_;
                    AddEntry(previous, table_.first[previous]);
                }
                Emit(code);
            } else {
                Emit(code);
                if (nextFree_ < kTableSize) AddEntry(previous, table_.first[code]);
            }
            previous = code;
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

    void AddEntry(std::uint32_t prefix, std::uint8_t suffix) {
        table_.prefix[nextFree_] = static_cast<std::uint16_t>(prefix);
        table_.suffix[nextFree_] = suffix;
        table_.first[nextFree_] = table_.first[prefix];
        table_.length[nextFree_] = static_cast<std::uint16_t>(table_.length[prefix] + 1);
        ++nextFree_;
        Grow();
    }

    // Writes the string of code, back to front along its prefixes; each entry's prefix is an
    // older entry, so the walk always ends after length steps.
    void Emit(std::uint32_t code) {
        const std::size_t length = table_.length[code];
        const auto room = static_cast<std::size_t>(outEnd_ - out_);
        if (length <= room) {
            std::uint8_t* p = out_ + length;
            for (std::size_t k = 0; k < length; ++k) {
                *--p = table_.suffix[code];
                code = table_.prefix[code];
            }
            out_ += length;
            return;
        }
        std::array<std::uint8_t, kTableSize> stack;
        std::uint8_t* p = stack.data() + length;
        for (std::size_t k = 0; k < length; ++k) {
            *--p = table_.suffix[code];
            code = table_.prefix[code];
        }
        std::memcpy(out_, stack.data(), room);
        out_ = outEnd_;
    }

    Table table_;
    const std::uint32_t clear_;
    const std::uint32_t end_;
    const int minimumCodeSize_;
    int width_ = 0;
    std::uint32_t limit_ = 0;
    std::uint32_t nextFree_ = 0;
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

} // namespace sorowa::gif
