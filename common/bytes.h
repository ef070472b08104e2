#pragma once
// Bytes held in memory by someone else, who keeps them while the span is used; or a part of them.
#include <cstddef>
#include <cstdint>
#include <utility>

class ByteSpan {
public:
    ByteSpan() = default;
    ByteSpan(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    // Anything that holds its bytes in one block: a vector, a mapped file, pooled memory.
    template <typename Bytes, typename = decltype(std::declval<const Bytes&>().data())>
    ByteSpan(const Bytes& bytes) : data_(reinterpret_cast<const uint8_t*>(bytes.data())), size_(bytes.size())
    {
    }
    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    uint8_t operator[](std::size_t at) const { return data_[at]; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};
