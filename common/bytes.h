#pragma once
// Bytes held in memory by someone else, who keeps them while the span is used, or a part of
// them; and whatever takes bytes written in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Takes the next bytes of a file; false when they could not all be kept.
using ByteSink = std::function<bool(const uint8_t* bytes, std::size_t size)>;

// Fills `into` with the next `size` bytes of a file; false when it holds fewer, or they cannot be
// read.
using ByteSource = std::function<bool(uint8_t* into, std::size_t size)>;

// The bytes of a span from its start, as a source.
inline ByteSource sourceOf(ByteSpan bytes)
{
    return [bytes, at = std::size_t{0}](uint8_t* into, std::size_t size) mutable {
        if (bytes.size() - at < size) return false;
        std::copy(bytes.data() + at, bytes.data() + at + size, into);
        at += size;
        return true;
    };
}
