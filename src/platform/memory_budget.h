#pragma once
// Budgets of decoded-picture bytes. Pictures that must be decoded whole (GIF frames, small
// bitmaps, a plug-in's blocks) take their bytes from a budget before they allocate, and give
// them back when they are dropped; a picture that would take the total past its budget is
// refused with its format's out-of-memory error instead of taking the machine's memory.
//
// The program's pictures share the process's budget, a quarter of the machine's physical
// memory. Tests give the pictures they load a small budget of their own.

#include <cstdint>
#include <memory>
#include <utility>

namespace sorowa::platform {

class TDecodedBytesBudget;

// Bytes taken from a budget, given back when the lease is dropped. Movable, not copyable.
// A lease keeps its budget's count alive, so it may outlive the budget object.
class DecodedBytesLease {
public:
    struct Account;

    DecodedBytesLease() = default;
    ~DecodedBytesLease() { Release(); }
    DecodedBytesLease(DecodedBytesLease&& other) noexcept
        : account_(std::move(other.account_)), bytes_(std::exchange(other.bytes_, 0)) {}
    DecodedBytesLease& operator=(DecodedBytesLease&& other) noexcept {
        if (this != &other) {
            Release();
            account_ = std::move(other.account_);
            bytes_ = std::exchange(other.bytes_, 0);
        }
        return *this;
    }
    DecodedBytesLease(const DecodedBytesLease&) = delete;
    DecodedBytesLease& operator=(const DecodedBytesLease&) = delete;

    std::uint64_t Bytes() const { return bytes_; }
    void Release();

private:
    friend class TDecodedBytesBudget;
    std::shared_ptr<Account> account_;
    std::uint64_t bytes_ = 0;
};

// A lease of bytes, or an empty lease with ok false when the budget cannot give them.
struct DecodedBytesRequest {
    bool ok = false;
    DecodedBytesLease lease;
};

class TDecodedBytesBudget {
public:
    explicit TDecodedBytesBudget(std::uint64_t bytes);
    TDecodedBytesBudget(const TDecodedBytesBudget&) = delete;
    TDecodedBytesBudget& operator=(const TDecodedBytesBudget&) = delete;

    // The process's budget: a quarter of physical memory (1 GiB when the system does not
    // say how much it has).
    static TDecodedBytesBudget& Process();

    // Safe from any thread.
    DecodedBytesRequest Reserve(std::uint64_t bytes);
    std::uint64_t InUse() const;

    // The budget that code which cannot be handed one (a plug-in's LocalAlloc) takes from on
    // this thread: the innermost Scope's, else the process's.
    static TDecodedBytesBudget& ForThisThread();
    class Scope {
    public:
        explicit Scope(TDecodedBytesBudget& budget);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        TDecodedBytesBudget* outer_;
    };

private:
    std::shared_ptr<DecodedBytesLease::Account> account_;
};

// Physical memory of the machine in bytes (0 when the system does not say).
std::uint64_t PhysicalMemoryBytes();

} // namespace sorowa::platform
