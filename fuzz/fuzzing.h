#pragma once
// What the fuzz targets share: how large a picture they decode, and how they report a wrong result.
#include "common/bytes.h"
#include "common/pixels.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Larger pictures, or progressive files of many scans over many pixels, take the decoder seconds
// each and teach the fuzzer nothing that smaller ones do not. Every scan of a progressive file is
// a pass over all its blocks, so the budget is of pixels times scans: the largest committed input
// (the split decoding's 8192 MCUs of 16 x 16 pixels) just fits it, and a small picture may still
// have hundreds of scans, as a hostile file would.
inline bool worthDecoding(ByteSpan file, ImageSize size)
{
    constexpr int64_t mostPixelPasses = 2'200'000;
    constexpr int largestSide = 16384;
    if (size.width <= 0 || size.height <= 0 || size.width > largestSide || size.height > largestSide) return false;
    const int64_t pixels = static_cast<int64_t>(size.width) * size.height;
    int64_t passes = 0;
    for (std::size_t at = 0; at + 1 < file.size(); ++at)
        if (file[at] == 0xFF && file[at + 1] == 0xDA && (passes += pixels) > mostPixelPasses) return false;
    return pixels <= mostPixelPasses;
}

// Ends the run so that libFuzzer keeps the input and prints the stack.
[[noreturn]] inline void mismatch(const char* what)
{
    std::fprintf(stderr, "MISMATCH: %s\n", what);
    std::abort();
}
