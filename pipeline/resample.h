#pragma once
// Our own stretch of a picture's region over a whole bitmap, each axis by its own factor:
// where the picture shrinks, each target pixel is the mean of the source area it covers (no
// aliasing); where it grows, it is interpolated bilinearly.
#include "common/imaging.h"

#include <cstdint>

// Rows of pixels in memory: 3 bytes a pixel (blue, green, red; opaque) or 4 (blue, green,
// red, alpha; the colours premultiplied by alpha).
struct PixelRows {
    uint8_t* pixels = nullptr;
    int stride = 0;  // bytes from the start of one row to the start of the next
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;
};

// Fills all of `target` (4 bytes a pixel) from the region of `source` that starts at its
// top-left pixel and is regionWidth x regionHeight pixels large (fractions allowed, at most
// the source's size, more than 0). Large regions are spread over every processor.
void resampleRegion(const PixelRows& source, double regionWidth, double regionHeight,
                    const PixelRows& target);

// A new 32-bit premultiplied ARGB bitmap of width x height made by resampleRegion from a
// bitmap of any pixel format. `result` stays empty when there is nothing to resample or a
// bitmap cannot be locked or made.
void resampleBitmap(imaging::GpBitmap* source, double regionWidth, double regionHeight, int width,
                    int height, imaging::GdiBitmap& result);
