#include "common/win32/file_reading.h"

#include "common/task_pool.h"
#include "common/win32/handles.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Large enough that a read costs little beside its bytes, small enough that a cancel is seen soon.
constexpr DWORD readingPiece = DWORD{4} << 20;

// Writes to every page that starts within [begin, end). Under Wine a read into pages never written
// to costs about twice as much as writing to them and reading then: 100 MB in 80 ms against 45.
void touchPages(uint8_t* begin, uint8_t* end)
{
    constexpr std::uintptr_t pageSize = 4096;
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + pageSize - 1) / pageSize * pageSize;
    for (std::uintptr_t page = first; page < reinterpret_cast<std::uintptr_t>(end); page += pageSize)
        *reinterpret_cast<volatile uint8_t*>(page) = 0;
}

// Reads exactly `size` bytes; false when the file holds fewer from where it stands, or a read fails.
bool readExactly(HANDLE file, uint8_t* into, std::size_t size, const Cancellation& cancellation)
{
    for (std::size_t done = 0; done < size;) {
        if (cancellation.cancelled()) return false;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(readingPiece, size - done));
        // Only pages that start past what is read already: the first may hold its last bytes.
        touchPages(into + done, into + done + asked);
        DWORD read = 0;
        if (!ReadFile(file, into + done, asked, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return true;
}

// From this size a file is read in two halves at once, the second through a handle of its own:
// most of a large read is the first touch of its pages, which two processors share.
constexpr std::size_t halvesFrom = std::size_t{32} << 20;

// Reads `size` bytes from `offset` on, through a handle of its own.
bool readAt(const wchar_t* path, std::size_t offset, uint8_t* into, std::size_t size, const Cancellation& cancellation)
{
    const KernelHandle file = openForReading(path);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return file && SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
           readExactly(file.get(), into, size, cancellation);
}

// Reads `size` bytes from where `file` stands, which is `offset`: a large read in two halves.
bool readRest(HANDLE file, const wchar_t* path, std::size_t offset, uint8_t* into, std::size_t size,
              const Cancellation& cancellation)
{
    if (size < halvesFrom) return readExactly(file, into, size, cancellation);
    const std::size_t firstHalf = size / 2;
    bool secondRead = false;
    Task second = runAside([&] {
        secondRead = readAt(path, offset + firstHalf, into + firstHalf, size - firstHalf, cancellation);
    });
    const bool firstRead = readExactly(file, into, firstHalf, cancellation);
    second.wait();
    return firstRead && secondRead;
}

}  // namespace

FileBytes readFileBytes(const wchar_t* path, const Cancellation& cancellation, bool (*wholeFor)(ByteSpan head))
{
    FileBytes result;
    const KernelHandle file = openForReading(path);
    LARGE_INTEGER fileSize{};
    if (!file || !GetFileSizeEx(file.get(), &fileSize) || fileSize.QuadPart < 0) {
        result.outcome = Outcome::unreadable;
        return result;
    }
    // Half the address space at most, as any one block of memory.
    if (static_cast<unsigned long long>(fileSize.QuadPart) > std::numeric_limits<std::size_t>::max() / 2) {
        result.outcome = Outcome::tooLarge;
        return result;
    }
    const auto size = static_cast<std::size_t>(fileSize.QuadPart);
    if (size == 0) return result;
    uint8_t head[fileHeadSize];
    const std::size_t headSize = std::min(size, fileHeadSize);
    if (!readExactly(file.get(), head, headSize, cancellation)) {
        result.outcome = cancellation.cancelled() ? Outcome::cancelled : Outcome::unreadable;
        return result;
    }
    const std::size_t kept = wholeFor(ByteSpan(head, headSize)) ? size : headSize;
    result.bytes = PooledMemory(kept, PooledMemory::Contents::unspecified);
    if (!result.bytes) {
        result.outcome = Outcome::outOfMemory;
        return result;
    }
    std::memcpy(result.bytes.data(), head, headSize);
    if (!readRest(file.get(), path, headSize, result.bytes.data() + headSize, kept - headSize, cancellation)) {
        result.outcome = cancellation.cancelled() ? Outcome::cancelled : Outcome::unreadable;
        result.bytes = PooledMemory();
    }
    return result;
}

KernelHandle openForReading(const wchar_t* path)
{
    return KernelHandle(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

ByteSource bufferedSource(HANDLE file)
{
    struct Buffer {
        std::vector<uint8_t> block = std::vector<uint8_t>(std::size_t{1} << 18);
        std::size_t at = 0;
        std::size_t end = 0;
    };
    return [file, buffer = std::make_shared<Buffer>()](uint8_t* into, std::size_t size) {
        for (;;) {
            const std::size_t taken = std::min(size, buffer->end - buffer->at);
            std::memcpy(into, buffer->block.data() + buffer->at, taken);
            buffer->at += taken;
            into += taken;
            size -= taken;
            if (size == 0) return true;
            DWORD read = 0;
            if (!ReadFile(file, buffer->block.data(), static_cast<DWORD>(buffer->block.size()), &read, nullptr) || read == 0)
                return false;
            buffer->at = 0;
            buffer->end = read;
        }
    };
}
