#pragma once
// The local-memory blocks that plug-ins allocate and hand to the program. The C functions
// (LocalAlloc ... LocalFree, declared in sorowa/spi.h) are exported by the program; this is
// the program's own view of the same table.

#include <cstddef>
#include <cstdint>
#include <span>

namespace sorowa::spi {

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

private:
    std::uint32_t handle_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace sorowa::spi
