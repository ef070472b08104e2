#pragma once
// Owner of one Win32 kernel handle (file, event, mutex, thread); closes it at scope end.
#include <windows.h>

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
