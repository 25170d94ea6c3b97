#pragma once
// One budget of decoded-picture bytes for the whole process. Pictures that must be decoded
// whole (GIF frames, small bitmaps) take their bytes from it before they allocate, and give
// them back when they are dropped; a picture that would take the total past the budget is
// refused with its format's out-of-memory error instead of taking the machine's memory. The
// budget is a quarter of the machine's physical memory.

#include <cstdint>
#include <utility>

namespace sorowa::platform {

// Bytes taken from the budget, given back when the lease is dropped. Movable, not copyable.
class DecodedBytesLease {
public:
    DecodedBytesLease() = default;
    ~DecodedBytesLease() { Release(); }
    DecodedBytesLease(DecodedBytesLease&& other) noexcept
        : bytes_(std::exchange(other.bytes_, 0)) {}
    DecodedBytesLease& operator=(DecodedBytesLease&& other) noexcept {
        if (this != &other) {
            Release();
            bytes_ = std::exchange(other.bytes_, 0);
        }
        return *this;
    }
    DecodedBytesLease(const DecodedBytesLease&) = delete;
    DecodedBytesLease& operator=(const DecodedBytesLease&) = delete;

    std::uint64_t Bytes() const { return bytes_; }
    // Takes more bytes into this lease; false (and nothing taken) when the budget cannot
    // give them.
    bool Grow(std::uint64_t bytes);
    void Release();

private:
    std::uint64_t bytes_ = 0;
};

// A lease of bytes, or an empty lease with ok false when the budget cannot give them.
struct DecodedBytesRequest {
    bool ok = false;
    DecodedBytesLease lease;
};
DecodedBytesRequest ReserveDecodedBytes(std::uint64_t bytes);

// The whole budget and what is taken of it now.
std::uint64_t DecodedBytesBudget();
std::uint64_t DecodedBytesInUse();
// Tests set a smaller budget; 0 returns to a quarter of physical memory.
void SetDecodedBytesBudget(std::uint64_t bytes);

// Physical memory of the machine in bytes (0 when the system does not say).
std::uint64_t PhysicalMemoryBytes();

} // namespace sorowa::platform
