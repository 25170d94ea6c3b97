#pragma once
// The local-memory blocks that plug-ins allocate and hand to the program. The C functions
// (LocalAlloc ... LocalFree, declared in sorowa/spi.h) are exported by the program; this is
// the program's own view of the same table.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace sorowa::spi {

// Every block has this many bytes of room in front of it that only the program uses: a
// bitmap's file header, info header and colour table go there, right before the rows a
// plug-in handed back, so that the bitmap reader reads them in place without a copy.
inline constexpr std::size_t kLocalHeadroom = 1088;

// Largest block LocalAlloc hands out: a 16384 x 16384 picture at 32 bits and a little more.
inline constexpr std::uint32_t kMaxLocalBlock = (1u << 30) + (1u << 20);

// True when handle is a live block of the table.
bool IsLocalHandle(std::uint32_t handle);
// How many blocks are live (for tests that check nothing is left behind).
std::size_t LiveLocalBlocks();

// A handle returned by a plug-in, owned from then on: locked while this lives, freed at
// the end. An unknown handle gives an empty block and is never touched.
class TLocalBlock {
public:
    explicit TLocalBlock(std::uint32_t handle);
    ~TLocalBlock();
    TLocalBlock(const TLocalBlock&) = delete;
    TLocalBlock& operator=(const TLocalBlock&) = delete;

    bool Valid() const { return data_ != nullptr; }
    // The whole block, as big as LocalSize says.
    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }
    // The kLocalHeadroom bytes right before Bytes(), for the program's own use; empty when
    // the block is not valid.
    std::span<std::uint8_t> Headroom() const;
    // Takes the block out of the table, so that the program may keep its bytes: the handle is
    // gone for everyone as if freed, while Headroom() and Bytes() stay readable for as long as
    // the returned owner lives. Null when the block is not valid.
    std::shared_ptr<const void> Take();

private:
    std::uint32_t handle_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace sorowa::spi
