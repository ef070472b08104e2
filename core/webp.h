#pragma once
// WebP files through libwebp: what the container tells (the canvas, the orientation in its EXIF
// chunk, its ICC profile), the first frame decoded into plain pixels, and pictures encoded lossy
// at quality 100 with their alpha and profile.
#include "common/bytes.h"
#include "common/cancellation.h"
#include "common/outcome.h"
#include "core/colour_profile.h"
#include "core/exif.h"
#include "core/decoding_target.h"

#include <cstdint>

// Whether the bytes open with a RIFF header of form "WEBP".
bool isWebp(ByteSpan file);

// What a WebP's container tells before any decoding; a size of 0 x 0 for a file libwebp refuses.
struct WebpFacts {
    ImageSize size;     // the canvas
    int orientation = 0;  // 1 to 8 from its EXIF chunk, 0 for none
    ColourProfile colourProfile;  // its ICCP chunk, as forRgbOutputs keeps it
    ByteSpan exif;  // the TIFF block of its EXIF chunk, in the file
};
// May throw std::bad_alloc for the profile.
WebpFacts webpFacts(ByteSpan file);

// The first frame (of an animation, as shown on the whole canvas) decoded into rows of the
// canvas's size that `target` gives, 4 bytes a pixel: blue, green, red and straight alpha. A
// still picture is decoded a piece of the file at a time, so that a cancellation ends it between
// two pieces and data that ends early fails it where it ends.
Outcome decodeWebpPixels(ByteSpan file, const PixelsFor& target, const Cancellation& cancellation = neverCancelled());

// `picture` (3 bytes a pixel, or 4 with straight alpha) encoded lossy at quality 100, its alpha
// kept when `alpha` says so, with `colourProfile` in an ICCP chunk and `exif` in an EXIF chunk
// (each unless empty), into `output`. False when libwebp refuses the picture or the sink a write.
bool encodeWebp(const PixelRows& picture, bool alpha, const ColourProfile& colourProfile, const ByteSink& output,
                const ExifBlock& exif = {});
