#include "common/pooled_memory.h"

#include "common/system_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

// Enough for the pictures of two files decoding at once and the one being saved; more would
// only raise what the process holds.
constexpr std::size_t keptBytesLimit = std::size_t{128} << 20;
constexpr std::size_t granularity = std::size_t{64} << 10;

struct Block {
    uint8_t* data;
    std::size_t capacity;
};

std::mutex poolLock;
std::vector<Block> keptBlocks;
std::size_t keptBytes = 0;

void freeBlock(const Block& block) { freeSystemBlock(block.data, block.capacity); }

// A kept block no smaller than `bytes` and not much larger, taken out of the pool.
Block takeKept(std::size_t bytes)
{
    const std::lock_guard<std::mutex> hold(poolLock);
    auto best = keptBlocks.end();
    for (auto block = keptBlocks.begin(); block != keptBlocks.end(); ++block)
        if (block->capacity >= bytes && block->capacity - bytes <= bytes / 2 &&
            (best == keptBlocks.end() || block->capacity < best->capacity))
            best = block;
    if (best == keptBlocks.end()) return {nullptr, 0};
    const Block taken = *best;
    keptBlocks.erase(best);
    keptBytes -= taken.capacity;
    return taken;
}

}  // namespace

PooledMemory::PooledMemory(std::size_t bytes, Contents contents)
{
    if (bytes == 0 || bytes > SIZE_MAX - granularity) return;
    Block block = takeKept(bytes);
    if (block.data != nullptr) {
        if (contents == Contents::zeroed) std::memset(block.data, 0, bytes);
    } else {
        const std::size_t capacity = (bytes + granularity - 1) / granularity * granularity;
        block = {systemBlock(capacity), capacity};
        if (block.data == nullptr) {
            // The kept blocks may be what stands in the way, in a 32-bit address space above all.
            releaseKeptMemory();
            block.data = systemBlock(capacity);
        }
        if (block.data == nullptr) return;
    }
    data_ = block.data;
    size_ = bytes;
    capacity_ = block.capacity;
}

PooledMemory::~PooledMemory() { giveBack(); }

PooledMemory::PooledMemory(PooledMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

PooledMemory& PooledMemory::operator=(PooledMemory&& other) noexcept
{
    if (this != &other) {
        giveBack();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void PooledMemory::giveBack()
{
    if (data_ == nullptr) return;
    const Block block{std::exchange(data_, nullptr), capacity_};
    size_ = capacity_ = 0;
    {
        const std::lock_guard<std::mutex> hold(poolLock);
        if (keptBytes + block.capacity <= keptBytesLimit) {
            try {
                keptBlocks.push_back(block);
                keptBytes += block.capacity;
                return;
            } catch (const std::bad_alloc&) {
                // Not kept: freed below.
            }
        }
    }
    freeBlock(block);
}

void releaseKeptMemory(std::size_t bytesToKeep)
{
    const std::lock_guard<std::mutex> hold(poolLock);
    std::sort(keptBlocks.begin(), keptBlocks.end(), [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
    while (keptBytes > bytesToKeep) {
        freeBlock(keptBlocks.back());
        keptBytes -= keptBlocks.back().capacity;
        keptBlocks.pop_back();
    }
}
