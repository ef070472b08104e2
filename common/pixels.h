#pragma once
// Pictures as plain memory: sizes, areas and rows of pixels, the same for every platform.
#include <cstddef>
#include <cstdint>

// A picture's size in pixels; 0 for a side that cannot be read.
struct ImageSize {
    int width = 0;
    int height = 0;
};

// A rectangle of pixels.
struct PixelArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Rows of pixels in memory: 3 bytes a pixel (blue, green, red; opaque) or 4 (blue, green,
// red, alpha; the colours premultiplied by alpha).
struct PixelRows {
    uint8_t* pixels = nullptr;
    int stride = 0;  // bytes from the start of one row to the start of the next
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;

    uint8_t* row(int y) const { return pixels + static_cast<std::ptrdiff_t>(y) * stride; }
};
