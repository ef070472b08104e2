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

// How a picture's pixels lie in memory, named for what a fourth byte means: blue, green and red
// in 3 bytes (opaque), or in 4 with the fourth unused (opaque), straight alpha, or the alpha the
// colours are premultiplied by.
enum class PixelLayout { bgr, bgrUnused, bgraStraight, bgraPremultiplied };

constexpr int bytesPerPixelOf(PixelLayout layout) { return layout == PixelLayout::bgr ? 3 : 4; }

// Rows of pixels in memory: 3 bytes a pixel (blue, green, red; opaque) or 4 (blue, green, red and
// a fourth byte; where nothing else is said, alpha the colours are premultiplied by).
struct PixelRows {
    uint8_t* pixels = nullptr;
    int stride = 0;  // bytes from the start of one row to the start of the next
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;

    uint8_t* row(int y) const { return pixels + static_cast<std::ptrdiff_t>(y) * stride; }
};
