// The LZW decoder on hand-made code streams.
#include "gif_test_util.h"
#include "picture/gif/gif_lzw.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

namespace sorowa::gif {
namespace {

using giftest::PackCodes;
using giftest::SubBlocks;
using Bytes = std::vector<std::uint8_t>;

// What the buffer holds before decoding: a byte the decoder leaves unwritten shows as this.
constexpr std::uint8_t kUnwritten = 0xEE;

// Minimum code size 2: clear 4, end 5, first free 6, 3-bit codes up to entry 7.
TEST(GifLzw, DecodesWithAndWithoutLeadingClearCode) {
    // 1 1 | 6 (=1 1) | end, the first code acts as if a clear code came before it.
    for (const bool leadingClear : {true, false}) {
        const Bytes codes = leadingClear ? PackCodes({{4, 3}, {1, 3}, {1, 3}, {6, 3}, {5, 3}})
                                         : PackCodes({{1, 3}, {1, 3}, {6, 3}, {5, 3}});
        const Bytes data = SubBlocks(codes, 255);
        Bytes pixels(4, kUnwritten);
        const LzwOutcome out = DecodeLzw(data, 2, pixels, 4, 1, false, 9);
        EXPECT_EQ(pixels, (Bytes{1, 1, 1, 1})) << leadingClear;
        EXPECT_EQ(out.consumed, data.size());
        EXPECT_FALSE(out.bitBufferUnderrun);
        EXPECT_FALSE(out.prematureEnd);
    }
}

TEST(GifLzw, CodeNotYetInTableIsPreviousStringPlusItsFirstByte) {
    // 2, then 6 before it is defined: "2" + "2"; then 7 = "2 2" + "2".
    const Bytes data = SubBlocks(PackCodes({{2, 3}, {6, 3}, {7, 3}, {5, 4}}), 255);
    Bytes pixels(6, kUnwritten);
    DecodeLzw(data, 2, pixels, 6, 1, false, 0);
    EXPECT_EQ(pixels, (Bytes{2, 2, 2, 2, 2, 2}));
}

TEST(GifLzw, CodeWidthGrowsWhenTheNextFreeCodeReachesTheLimit) {
    // Codes 1,2,3 define entries 6 and 7; with 7 defined the width becomes 4 bits.
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {2, 3}, {3, 3}, {0, 4}, {6, 4}, {5, 4}}), 255);
    Bytes pixels(6, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 6, 1, false, 9);
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 0, 1, 2}));
    EXPECT_FALSE(out.bitBufferUnderrun);
}

TEST(GifLzw, ClearCodeResetsTableAndWidth) {
    const Bytes data =
        SubBlocks(PackCodes({{1, 3}, {2, 3}, {3, 3}, {4, 4}, {3, 3}, {3, 3}, {6, 3}, {5, 3}}), 255);
    Bytes pixels(7, kUnwritten);
    DecodeLzw(data, 2, pixels, 7, 1, false, 9);
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 3, 3, 3, 3}));
}

TEST(GifLzw, CodesStraddleSubBlocksOfOneByte) {
    const Bytes codes = PackCodes({{1, 3}, {2, 3}, {3, 3}, {0, 4}, {6, 4}, {5, 4}});
    Bytes pixels(6, kUnwritten);
    const Bytes data = SubBlocks(codes, 1);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 6, 1, false, 9);
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 0, 1, 2}));
    EXPECT_EQ(out.consumed, data.size());
}

TEST(GifLzw, EndCodeConsumesTheRemainingSubBlocks) {
    Bytes data = SubBlocks(PackCodes({{1, 3}, {5, 3}}), 255, false);
    const Bytes rest = SubBlocks({7, 7, 7, 7}, 2); // junk blocks after the end code
    data.insert(data.end(), rest.begin(), rest.end());
    data.push_back(0x3B);
    Bytes pixels(4, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 2, 2, false, 9);
    EXPECT_EQ(pixels, (Bytes{1, 9, 9, 9}));
    EXPECT_EQ(out.consumed, data.size() - 1); // everything but the trailer
}

TEST(GifLzw, RunningOutOfCodesIsAnUnderrunAndLeavesTheFillValue) {
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {2, 3}}), 255);
    Bytes pixels(5, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 5, 1, false, 3);
    EXPECT_TRUE(out.bitBufferUnderrun);
    EXPECT_EQ(out.pixelsDecoded, 2u);
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 3, 3}));
}

TEST(GifLzw, CodesEndingAfterACopiedStringLeaveTheFillRightAfterIt) {
    // 1 2 3, then 6 (= 1 2) at 4 bits; a string copy may write ahead of itself, but nothing
    // of that may stay once the codes run out.
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {2, 3}, {3, 3}, {6, 4}}), 255);
    Bytes pixels(24, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 24, 1, false, 9);
    EXPECT_TRUE(out.bitBufferUnderrun);
    EXPECT_EQ(out.pixelsDecoded, 5u);
    Bytes expected(24, 9);
    std::copy_n(Bytes{1, 2, 3, 1, 2}.begin(), 5, expected.begin());
    EXPECT_EQ(pixels, expected);
}

TEST(GifLzw, OneMoreCodeIsReadAfterTheLastPixel) {
    // Two pixels and nothing after them: the extra read runs dry.
    Bytes pixels(2, kUnwritten);
    const Bytes bare = SubBlocks(PackCodes({{1, 3}, {2, 3}}), 255);
    EXPECT_TRUE(DecodeLzw(bare, 2, pixels, 2, 1, false, 0).bitBufferUnderrun);
    const Bytes ended = SubBlocks(PackCodes({{1, 3}, {2, 3}, {5, 3}}), 255);
    EXPECT_FALSE(DecodeLzw(ended, 2, pixels, 2, 1, false, 0).bitBufferUnderrun);
}

TEST(GifLzw, SubBlockLongerThanTheDataIsPrematureEnd) {
    Bytes data = {40};
    const Bytes codes = PackCodes({{1, 3}, {2, 3}, {3, 3}});
    data.insert(data.end(), codes.begin(), codes.end());
    Bytes pixels(4, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 4, 1, false, 0);
    EXPECT_TRUE(out.prematureEnd);
    EXPECT_TRUE(out.bitBufferUnderrun);
    EXPECT_EQ(out.consumed, data.size());
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 0}));
}

TEST(GifLzw, InterlacedRowsArriveInFourPasses) {
    // One pixel per row, the value of each being its place in the data.
    const int height = 11;
    Bytes decodeOrder(height);
    std::iota(decodeOrder.begin(), decodeOrder.end(), 0);
    // Minimum code size 4, codes of 5 bits; a clear code before every literal keeps the width.
    Bytes codes;
    {
        std::uint32_t acc = 0;
        int count = 0;
        auto put = [&](int code) {
            acc |= static_cast<std::uint32_t>(code) << count;
            count += 5;
            while (count >= 8) {
                codes.push_back(static_cast<std::uint8_t>(acc));
                acc >>= 8;
                count -= 8;
            }
        };
        for (const std::uint8_t v : decodeOrder) {
            put(16);
            put(v);
        }
        put(17);
        if (count > 0) codes.push_back(static_cast<std::uint8_t>(acc));
    }
    Bytes pixels(height, kUnwritten);
    DecodeLzw(SubBlocks(codes, 255), 4, pixels, 1, height, true, 0);
    // Rows 0, 8 | 4 | 2, 6, 10 | 1, 3, 5, 7, 9
    EXPECT_EQ(pixels, (Bytes{0, 6, 3, 7, 2, 8, 4, 9, 1, 10, 5}));
}

TEST(GifLzw, InterlacedImageCutShortKeepsFillInRowsNotReached) {
    // 1 x 4: only the first two decoded rows (0 and 2... pass 1 row 0, pass 3 row 2).
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {2, 3}}), 255);
    Bytes pixels(4, kUnwritten);
    DecodeLzw(data, 2, pixels, 1, 4, true, 3);
    EXPECT_EQ(pixels, (Bytes{1, 3, 2, 3}));
}

TEST(GifLzw, CodesBeyondTheTableDecodeToSomethingSafe) {
    // First code 7 right after the clear code and a code far beyond the next free one.
    const Bytes data = SubBlocks(PackCodes({{7, 3}, {1, 3}, {7, 3}, {7, 4}, {5, 4}}), 255);
    Bytes pixels(16, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 16, 1, false, 9);
    EXPECT_GE(out.pixelsDecoded, 2u);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 1);
}

TEST(GifLzw, OverlongStringIsCutAtTheLastPixel) {
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {6, 3}, {7, 3}, {5, 4}}), 255);
    Bytes pixels(4, kUnwritten);
    DecodeLzw(data, 2, pixels, 4, 1, false, 9);
    EXPECT_EQ(pixels, (Bytes{1, 1, 1, 1}));
}

TEST(GifLzw, MinimumCodeSizeAboveEightWritesNothing) {
    const Bytes data = SubBlocks(PackCodes({{1, 10}, {513, 10}}), 255);
    Bytes pixels(2, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 9, pixels, 2, 1, false, 9);
    EXPECT_EQ(pixels, (Bytes{9, 9}));
    EXPECT_EQ(out.consumed, data.size());
}

TEST(GifLzw, MissingTerminatorEndsAtTheData) {
    const Bytes data = SubBlocks(PackCodes({{1, 3}, {2, 3}, {5, 3}}), 255, false);
    Bytes pixels(2, kUnwritten);
    const LzwOutcome out = DecodeLzw(data, 2, pixels, 2, 1, false, 0);
    EXPECT_EQ(out.consumed, data.size());
    EXPECT_FALSE(out.prematureEnd);
    EXPECT_EQ(pixels, (Bytes{1, 2}));
}

} // namespace
} // namespace sorowa::gif
