#pragma once
// A file's bytes mapped read-only into memory, which costs no copy and no fresh pages however
// large the file. The file stays open, and so unwritable by anyone else, while the view lasts.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <utility>

class FileView {
public:
    FileView() = default;
    // Empty when the file cannot be opened or mapped, or holds nothing.
    explicit FileView(const char* path);
    ~FileView() { release(); }
    FileView(FileView&& other) noexcept { *this = std::move(other); }
    FileView& operator=(FileView&& other) noexcept
    {
        if (this == &other) return *this;
        release();
        file_ = std::exchange(other.file_, INVALID_HANDLE_VALUE);
        mapping_ = std::exchange(other.mapping_, nullptr);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    void release();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};
