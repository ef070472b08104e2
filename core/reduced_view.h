#pragma once
// How much of a picture a decoding makes.
#include "common/pixels.h"

// libjpeg's reduction (1, 2, 4 or 8), and for a cut region's decoding, the region of the stored
// picture from its top left beyond which nothing may show (both sides 0: all of it).
struct ReducedView {
    int scaleDenominator = 1;
    ImageSize kept;

    bool cuts() const { return kept.width > 0 || kept.height > 0; }
};
