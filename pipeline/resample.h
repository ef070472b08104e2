#pragma once
// Our own stretch of a picture's region over a whole bitmap, each axis by its own factor:
// where the picture shrinks, each target pixel is the mean of the source area it covers (no
// aliasing); where it grows, it is interpolated bilinearly. Each pass may throw std::bad_alloc
// for its tables and scratch rows, on whichever thread ran short; all of its threads have ended
// when it does.
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

// What a colour matrix without cross terms does to each resampled pixel: every colour channel
// times its gain plus its offset (on the 0 to 255 scale), clamped; alpha passes. Indexed in
// the pixels' byte order: blue, green, red.
struct ColourGains {
    float gain[3] = {1.0f, 1.0f, 1.0f};
    float offset[3] = {0.0f, 0.0f, 0.0f};
};

// A value on the 0 to 255 scale as the nearest byte, clamped.
uint8_t toByte(float value);

// Whether target pixels hold colours premultiplied by alpha or straight ones.
enum class TargetAlpha { premultiplied, straight };

// Fills all of `target` (4 bytes a pixel, or 3 for straight colours without alpha) from the
// region of `source` that starts at its top-left pixel and is regionWidth x regionHeight
// pixels large (fractions allowed, at most the source's size, more than 0), then applies
// `gains`. Large regions are spread over every processor. A region of the target's own size
// from an opaque source is a plain copy through the gains.
void resampleRegion(const PixelRows& source, double regionWidth, double regionHeight,
                    const PixelRows& target, TargetAlpha alpha = TargetAlpha::premultiplied,
                    const ColourGains& gains = {});

// The same-size case of resampleRegion on this thread alone: 3-byte rows through the gains into
// `target` (3 bytes, or 4 with opaque alpha) of the same size; in place when both are one.
void copyThroughGains(const PixelRows& source, const PixelRows& target, const ColourGains& gains);

// resampleRegion between two bitmaps of any pixel format, each locked for the pass; the
// target is written as 32-bit premultiplied or straight ARGB, or as 24-bit RGB when that is
// its format. False, with the target as it was, when there is nothing to resample or either
// bitmap cannot be locked.
bool resampleInto(imaging::GpBitmap* source, double regionWidth, double regionHeight,
                  imaging::GpBitmap* target, TargetAlpha alpha, const ColourGains& gains);

// A new 32-bit premultiplied ARGB bitmap of width x height made by resampleRegion from a
// bitmap of any pixel format; empty when there is nothing to resample or a bitmap cannot be
// locked or made.
imaging::GdiBitmap resampleBitmap(imaging::GpBitmap* source, double regionWidth, double regionHeight, int width,
                                  int height);
