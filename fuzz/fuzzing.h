#pragma once
// What the fuzz targets share: how large a picture they decode, and how they report a wrong result.
#include "common/bytes.h"
#include "common/pixels.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Larger pictures, or progressive files of very many scans, take the decoder seconds each and
// teach the fuzzer nothing that smaller ones do not.
inline bool worthDecoding(ByteSpan file, ImageSize size)
{
    constexpr int64_t largestPixels = 4'000'000;
    constexpr int largestSide = 16384;
    constexpr int mostScans = 64;
    if (size.width <= 0 || size.height <= 0 || size.width > largestSide || size.height > largestSide ||
        static_cast<int64_t>(size.width) * size.height > largestPixels)
        return false;
    int scans = 0;
    for (std::size_t at = 0; at + 1 < file.size(); ++at)
        if (file[at] == 0xFF && file[at + 1] == 0xDA && ++scans > mostScans) return false;
    return true;
}

// Ends the run so that libFuzzer keeps the input and prints the stack.
[[noreturn]] inline void mismatch(const char* what)
{
    std::fprintf(stderr, "MISMATCH: %s\n", what);
    std::abort();
}
