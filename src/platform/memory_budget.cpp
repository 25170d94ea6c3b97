#include "platform/memory_budget.h"

#include <atomic>
#include <unistd.h>

namespace sorowa::platform {
namespace {

// Where the system does not say how much memory it has, 1 GiB is assumed to be safe.
constexpr std::uint64_t kFallbackBudget = std::uint64_t{1} << 30;

std::atomic<std::uint64_t> inUse{0};
std::atomic<std::uint64_t> budgetOverride{0};

bool Take(std::uint64_t bytes) {
    const std::uint64_t budget = DecodedBytesBudget();
    std::uint64_t current = inUse.load(std::memory_order_relaxed);
    do {
        if (bytes > budget || current > budget - bytes) return false;
    } while (!inUse.compare_exchange_weak(current, current + bytes, std::memory_order_relaxed));
    return true;
}

} // namespace

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::uint64_t DecodedBytesBudget() {
    if (const std::uint64_t set = budgetOverride.load(std::memory_order_relaxed)) return set;
    static const std::uint64_t quarter = [] {
        const std::uint64_t physical = PhysicalMemoryBytes();
        return physical == 0 ? kFallbackBudget : physical / 4;
    }();
    return quarter;
}

std::uint64_t DecodedBytesInUse() {
    return inUse.load(std::memory_order_relaxed);
}

void SetDecodedBytesBudget(std::uint64_t bytes) {
    budgetOverride.store(bytes, std::memory_order_relaxed);
}

bool DecodedBytesLease::Grow(std::uint64_t bytes) {
    if (!Take(bytes)) return false;
    bytes_ += bytes;
    return true;
}

void DecodedBytesLease::Release() {
    if (bytes_ != 0) inUse.fetch_sub(std::exchange(bytes_, 0), std::memory_order_relaxed);
}

DecodedBytesRequest ReserveDecodedBytes(std::uint64_t bytes) {
    DecodedBytesRequest request;
    request.ok = request.lease.Grow(bytes);
    return request;
}

} // namespace sorowa::platform
