#pragma once
// Our own stretch of a picture's region over a whole bitmap, each axis by its own factor:
// where the picture shrinks, each target pixel is the mean of the source area it covers (no
// aliasing); where it grows, it is interpolated bilinearly. Each pass may throw std::bad_alloc
// for its tables and scratch rows, on whichever thread ran short; all of its threads have ended
// when it does.
#include "common/pixels.h"

#include <cstdint>

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
