#pragma once
// Owners of Win32 handles: a kernel handle (file, event, mutex, thread), a directory search and a
// COM interface; each releases what it holds at scope end.
#include <windows.h>

#include <utility>

// INVALID_HANDLE_VALUE and null both mean none.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() { reset(); }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr)
    {
        if (*this) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// Writes all `size` bytes to an open file; false when any of them was not written.
inline bool writeWhole(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Owner of one directory search of FindFirstFile; ends it at scope end.
class SearchHandle {
public:
    explicit SearchHandle(HANDLE handle) : handle_(handle) {}
    ~SearchHandle()
    {
        if (*this) FindClose(handle_);
    }
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Owner of one reference to a COM interface; releases it at scope end.
template <typename Interface>
class ComReference {
public:
    ComReference() = default;
    explicit ComReference(Interface* pointer) : pointer_(pointer) {}
    ~ComReference()
    {
        if (pointer_ != nullptr) pointer_->Release();
    }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;
    ComReference(ComReference&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComReference& operator=(ComReference&&) = delete;

    Interface* get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};
