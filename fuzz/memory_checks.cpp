// What the core holds while it reads a file, checked where no sanitizer runs: this program
// replaces the allocator with one that refuses any single allocation past a limit, and limits
// the address space. Nothing may grow with the count of a file's segments, nor copy a whole file
// that it can read a piece at a time, the pool must give back what it keeps before it fails, and a
// decoding without room is short of memory, not damaged. Exits non-zero on any failure.
#include "common/pooled_memory.h"
#include "core/colour_profile.h"
#include "core/source.h"
#include "core/webp.h"
#include "tests/pictures.h"

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace {

std::size_t largestAllocation = std::numeric_limits<std::size_t>::max();

// Refuses any allocation larger than `bytes` while it lives.
class AllocationLimit {
public:
    explicit AllocationLimit(std::size_t bytes) : previous_(largestAllocation) { largestAllocation = bytes; }
    ~AllocationLimit() { largestAllocation = previous_; }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    std::size_t previous_;
};

constexpr std::size_t megabyte = std::size_t{1} << 20;

int failures = 0;

void check(bool passed, const char* what)
{
    std::printf("%s: %s\n", passed ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!passed) ++failures;
}

void appendBigEndian(Bytes& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

// A JPEG whose Exif segment, turned a quarter, is followed by a million small others.
void segmentFlood()
{
    const Bytes picture = encodePicture(64, 48);
    const Bytes turned = jpegSegment(0xE1, exifContents({}));
    const Bytes segment = jpegSegment(0xE1, {'E', 'x', 'i', 'f', 0, 0});
    Bytes file(picture.begin(), picture.begin() + 2);
    file.insert(file.end(), turned.begin(), turned.end());
    for (int copy = 0; copy < 1'000'000; ++copy) file.insert(file.end(), segment.begin(), segment.end());
    file.insert(file.end(), picture.begin() + 2, picture.end());
    SourceFacts facts;
    try {
        const AllocationLimit limit(megabyte);
        facts = sourceFacts(file);
    } catch (const std::bad_alloc&) {
        check(false, "a source's facts read past a million Exif segments");
        return;
    }
    check(facts.header.size.width == 64 && facts.header.size.height == 48 && facts.orientation == 6,
          "a source's facts read past a million Exif segments");
}

// A PNG of 24 chunks of a megabyte each gets its profile put in without being held whole.
void profileIntoALargePng()
{
    Bytes png(pngSignature.begin(), pngSignature.end());
    const Bytes header = {0, 0, 0x10, 0, 0, 0, 0x10, 0, 8, 2, 0, 0, 0};
    for (const Bytes& chunk : {pngChunk("IHDR", header), pngChunk("sRGB", {0})})
        png.insert(png.end(), chunk.begin(), chunk.end());
    const Bytes data = pngChunk("IDAT", Bytes(megabyte, 0x42));
    for (int chunk = 0; chunk < 24; ++chunk) png.insert(png.end(), data.begin(), data.end());
    const Bytes end = pngChunk("IEND", {});
    png.insert(png.end(), end.begin(), end.end());
    const ColourProfile profile = rgbProfileOf(3000);
    std::size_t written = 0;
    bool rewritten = false;
    try {
        const AllocationLimit limit(megabyte);
        rewritten = writePngWithColourProfile(sourceOf(png), profile, [&](const uint8_t*, std::size_t size) {
            written += size;
            return true;
        });
    } catch (const std::bad_alloc&) {
        rewritten = false;
    }
    // Less its sRGB chunk of 13 bytes, with an iCCP chunk of the profile compressed.
    check(rewritten && written > png.size() && written < png.size() + profile.size() + 64,
          "a profile is put into a PNG of 24 MB holding no more than a megabyte at once");
}

// An animation whose canvas the decoder has no memory for is short of memory, not damaged, so
// that the worker tries it again with nothing else held.
void animationBeyondMemory()
{
    // 64 MB a canvas: the picture's, then the decoder's own two.
    const Bytes file = animatedWebp(encodeWebpPicture(16, 16, false), 4096, 4096);
    std::vector<uint8_t> picture(std::size_t{4096} * 4096 * 4);
    const auto into = [&](ImageSize size, PixelLayout) {
        return PixelRows{picture.data(), size.width * 4, size.width, size.height, 4};
    };
    Outcome limited = Outcome::done;
    {
        const AllocationLimit limit(16 * megabyte);
        limited = decodeWebpPixels(file, into);
    }
    check(decodeWebpPixels(file, into) == Outcome::done && limited == Outcome::outOfMemory,
          "an animation whose canvas the decoder has no memory for is short of memory");
}

std::size_t addressSpaceInUse()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoul(line.substr(7)) * 1024;
    return 0;
}

// The pool keeps blocks that no one asks for again; the system then has no room for a larger one
// until the pool lets them go.
void poolGivesBackBeforeItFails()
{
    {
        std::vector<PooledMemory> blocks;
        for (int block = 0; block < 6; ++block) blocks.emplace_back(16 * megabyte, PooledMemory::Contents::unspecified);
    }
    rlimit previous{};
    getrlimit(RLIMIT_AS, &previous);
    rlimit limited = previous;
    limited.rlim_cur = addressSpaceInUse() + 48 * megabyte;
    bool had = false;
    if (setrlimit(RLIMIT_AS, &limited) == 0) {
        had = static_cast<bool>(PooledMemory(64 * megabyte, PooledMemory::Contents::unspecified));
        setrlimit(RLIMIT_AS, &previous);
    }
    releaseKeptMemory();
    check(had, "a block the system has room for only once the pool gave back what it kept");
}

}  // namespace

void* operator new(std::size_t size)
{
    void* block = size <= largestAllocation ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

// The C libraries' blocks too: libwebp's canvases.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* malloc(std::size_t size) { return size <= largestAllocation ? __libc_malloc(size) : nullptr; }
extern "C" void* calloc(std::size_t count, std::size_t size)
{
    return size == 0 || count <= largestAllocation / size ? __libc_calloc(count, size) : nullptr;
}

int main()
{
    segmentFlood();
    profileIntoALargePng();
    poolGivesBackBeforeItFails();
    animationBeyondMemory();
    std::printf("memory checks: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
