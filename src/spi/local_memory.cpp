#include "spi/local_memory.h"

#include "platform/memory_budget.h"
#include "sorowa/spi.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace sorowa::spi {
namespace {

struct FreeBytes {
    void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};

// A block's bytes count against the process's budget of decoded bytes from LocalAlloc until
// they are freed or taken (the picture that takes them counts them as its own).
struct Block {
    std::unique_ptr<std::uint8_t[], FreeBytes> bytes;
    std::uint32_t size = 0;
    std::uint32_t locks = 0;
    sorowa::platform::DecodedBytesLease lease;
};

// Handles are never reused while the counter has not wrapped, so a stale handle from a
// plug-in finds nothing instead of someone else's block.
struct Table {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, Block> blocks;
    std::uint32_t next = 0x1000;
};

Table& TheTable() {
    static Table table;
    return table;
}

} // namespace

bool IsLocalHandle(std::uint32_t handle) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.blocks.contains(handle);
}

std::size_t LiveLocalBlocks() {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.blocks.size();
}

TLocalBlock::TLocalBlock(std::uint32_t handle) : handle_(handle) {
    if (!IsLocalHandle(handle)) return;
    data_ = static_cast<const std::uint8_t*>(LocalLock(handle));
    size_ = data_ != nullptr ? LocalSize(handle) : 0;
}

std::span<std::uint8_t> TLocalBlock::Headroom() const {
    if (data_ == nullptr) return {};
    return {const_cast<std::uint8_t*>(data_) - kLocalHeadroom, kLocalHeadroom};
}

std::shared_ptr<const void> TLocalBlock::Take() {
    if (data_ == nullptr) return nullptr;
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.blocks.find(handle_);
    if (it == table.blocks.end()) return nullptr;
    std::shared_ptr<const void> owner(std::move(it->second.bytes));
    table.blocks.erase(it);
    return owner;
}

TLocalBlock::~TLocalBlock() {
    if (data_ != nullptr) LocalUnlock(handle_);
    LocalFree(handle_); // an unknown handle is refused by the table, nothing else happens
}

} // namespace sorowa::spi

using sorowa::spi::Block;
using sorowa::spi::FreeBytes;
using sorowa::spi::TheTable;

extern "C" {

uint32_t LocalAlloc(uint32_t flags, uint32_t bytes) {
    if (bytes > sorowa::spi::kMaxLocalBlock) return 0;
    // Room for at least one byte, so that even an empty block has an address to lock.
    const std::size_t whole = sorowa::spi::kLocalHeadroom + (bytes == 0 ? 1 : bytes);
    // A plug-in asking for more than the budget has left gets no block, as when memory runs
    // out: a header's word alone takes nothing.
    sorowa::platform::DecodedBytesRequest lease =
        sorowa::platform::TDecodedBytesBudget::ForThisThread().Reserve(whole);
    if (!lease.ok) return 0;
    // A zeroed block comes from calloc: a large one is fresh pages that cost nothing until
    // they are written, so a plug-in that leaves blank rows as they are spends no time or
    // memory on them.
    std::unique_ptr<std::uint8_t[], FreeBytes> memory(static_cast<std::uint8_t*>(
        (flags & LMEM_ZEROINIT) != 0 ? std::calloc(whole, 1) : std::malloc(whole)));
    if (!memory) return 0;
    auto& table = TheTable();
    std::lock_guard lock(table.mutex);
    std::uint32_t handle = table.next;
    while (handle == 0 || table.blocks.contains(handle))
        ++handle;
    table.next = handle + 1;
    table.blocks.emplace(handle, Block{std::move(memory), bytes, 0, std::move(lease.lease)});
    return handle;
}

void* LocalLock(uint32_t handle) {
    auto& table = TheTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.blocks.find(handle);
    if (it == table.blocks.end()) return nullptr;
    ++it->second.locks;
    return it->second.bytes.get() + sorowa::spi::kLocalHeadroom;
}

int32_t LocalUnlock(uint32_t handle) {
    auto& table = TheTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.blocks.find(handle);
    if (it == table.blocks.end() || it->second.locks == 0) return 0;
    --it->second.locks;
    return it->second.locks != 0 ? 1 : 0;
}

uint32_t LocalSize(uint32_t handle) {
    auto& table = TheTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.blocks.find(handle);
    return it == table.blocks.end() ? 0 : it->second.size;
}

uint32_t LocalFree(uint32_t handle) {
    auto& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.blocks.erase(handle) != 0 ? 0 : handle;
}

} // extern "C"
