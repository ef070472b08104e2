#pragma once
// Large blocks of memory for pictures and files, kept by the process once released and handed
// out again: the first touch of every page of a fresh block costs a page fault, which for a
// picture of a few megabytes costs as much as decoding it; a reused block costs none.
#include <cstddef>
#include <cstdint>

// Owner of one block; gives it back to the pool at scope end. Empty when it could not be had.
class PooledMemory {
public:
    enum class Contents { zeroed, unspecified };

    PooledMemory() = default;
    PooledMemory(std::size_t bytes, Contents contents);
    ~PooledMemory();
    PooledMemory(PooledMemory&& other) noexcept;
    PooledMemory& operator=(PooledMemory&& other) noexcept;
    PooledMemory(const PooledMemory&) = delete;
    PooledMemory& operator=(const PooledMemory&) = delete;

    uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }  // as asked for
    explicit operator bool() const { return data_ != nullptr; }

private:
    void giveBack();

    uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Returns kept blocks to the system, the largest first, until at most `keptBytes` stay kept.
void releaseKeptMemory(std::size_t keptBytes = 0);
