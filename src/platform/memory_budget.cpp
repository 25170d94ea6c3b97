#include "platform/memory_budget.h"

#include <atomic>
#include <unistd.h>

namespace sorowa::platform {

struct DecodedBytesLease::Account {
    explicit Account(std::uint64_t bytes) : budget(bytes) {}
    const std::uint64_t budget;
    std::atomic<std::uint64_t> inUse{0};

    bool Take(std::uint64_t bytes) {
        std::uint64_t current = inUse.load(std::memory_order_relaxed);
        do {
            if (bytes > budget || current > budget - bytes) return false;
        } while (!inUse.compare_exchange_weak(current, current + bytes, std::memory_order_relaxed));
        return true;
    }
};

namespace {
// Where the system does not say how much memory it has, 1 GiB is assumed to be safe.
constexpr std::uint64_t kFallbackBudget = std::uint64_t{1} << 30;

thread_local TDecodedBytesBudget* scoped = nullptr;
} // namespace

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void DecodedBytesLease::Release() {
    if (bytes_ != 0) account_->inUse.fetch_sub(std::exchange(bytes_, 0), std::memory_order_relaxed);
    account_.reset();
}

TDecodedBytesBudget::TDecodedBytesBudget(std::uint64_t bytes)
    : account_(std::make_shared<DecodedBytesLease::Account>(bytes)) {}

TDecodedBytesBudget& TDecodedBytesBudget::Process() {
    static TDecodedBytesBudget budget([] {
        const std::uint64_t physical = PhysicalMemoryBytes();
        return physical == 0 ? kFallbackBudget : physical / 4;
    }());
    return budget;
}

DecodedBytesRequest TDecodedBytesBudget::Reserve(std::uint64_t bytes) {
    DecodedBytesRequest request;
    if (!account_->Take(bytes)) return request;
    request.ok = true;
    request.lease.account_ = account_;
    request.lease.bytes_ = bytes;
    return request;
}

std::uint64_t TDecodedBytesBudget::InUse() const {
    return account_->inUse.load(std::memory_order_relaxed);
}

TDecodedBytesBudget& TDecodedBytesBudget::ForThisThread() {
    return scoped != nullptr ? *scoped : Process();
}

TDecodedBytesBudget::Scope::Scope(TDecodedBytesBudget& budget) : outer_(scoped) {
    scoped = &budget;
}

TDecodedBytesBudget::Scope::~Scope() {
    scoped = outer_;
}

} // namespace sorowa::platform
