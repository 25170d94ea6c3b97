#include "platform/memory_budget.h"
#include "sorowa/spi.h"
#include "spi/local_memory.h"

#include <cstring>
#include <gtest/gtest.h>

namespace sorowa::spi {
namespace {

TEST(LocalMemory, BlocksLiveFromAllocToFree) {
    const std::size_t before = LiveLocalBlocks();
    const std::uint32_t h = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 10);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(IsLocalHandle(h));
    EXPECT_EQ(LocalSize(h), 10u);
    auto* p = static_cast<unsigned char*>(LocalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "\0\0\0\0\0\0\0\0\0\0", 10), 0);
    EXPECT_NE(LocalLock(h), nullptr); // locks nest
    EXPECT_NE(LocalUnlock(h), 0);
    EXPECT_EQ(LocalUnlock(h), 0);
    EXPECT_EQ(LocalFree(h), 0u);
    // A freed handle is unknown from then on, and is never handed out again soon.
    EXPECT_FALSE(IsLocalHandle(h));
    EXPECT_EQ(LocalLock(h), nullptr);
    EXPECT_EQ(LocalSize(h), 0u);
    EXPECT_EQ(LocalFree(h), h);
    const std::uint32_t next = LocalAlloc(LMEM_FIXED, 1);
    EXPECT_NE(next, h);
    LocalFree(next);
    EXPECT_EQ(LiveLocalBlocks(), before);
}

TEST(LocalMemory, UnknownHandlesAndImpossibleSizesAreRefused) {
    for (std::uint32_t handle : {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(LocalLock(handle), nullptr);
        EXPECT_EQ(LocalSize(handle), 0u);
        EXPECT_EQ(LocalUnlock(handle), 0);
        EXPECT_EQ(LocalFree(handle), handle);
        TLocalBlock block(handle); // owned and released: nothing happens
        EXPECT_FALSE(block.Valid());
        EXPECT_TRUE(block.Bytes().empty());
    }
    EXPECT_EQ(LocalAlloc(LMEM_FIXED, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(LocalAlloc(LMEM_FIXED, kMaxLocalBlock + 1), 0u);
    const std::uint32_t empty = LocalAlloc(LMEM_FIXED, 0);
    ASSERT_NE(empty, 0u);
    EXPECT_NE(LocalLock(empty), nullptr);
    {
        TLocalBlock block(empty); // takes the lock above over as well
        EXPECT_TRUE(block.Valid());
        EXPECT_EQ(block.Bytes().size(), 0u);
    }
    EXPECT_FALSE(IsLocalHandle(empty));
}

TEST(LocalMemory, BlocksCountAgainstTheDecodedBytesBudgetUntilFreedOrTaken) {
    platform::TDecodedBytesBudget budget(8u << 20);
    const platform::TDecodedBytesBudget::Scope scope(budget);
    const std::uint32_t first = LocalAlloc(LMEM_MOVEABLE, 5u << 20);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(budget.InUse(), kLocalHeadroom + (5u << 20));
    EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, 5u << 20), 0u); // past the budget: nothing allocated
    LocalFree(first);
    EXPECT_EQ(budget.InUse(), 0u);
    const std::uint32_t second = LocalAlloc(LMEM_MOVEABLE, 5u << 20);
    ASSERT_NE(second, 0u);
    {
        TLocalBlock block(second);
        const auto owner = block.Take(); // the taker counts the bytes it keeps
        EXPECT_EQ(budget.InUse(), 0u);
    }
}

} // namespace
} // namespace sorowa::spi
