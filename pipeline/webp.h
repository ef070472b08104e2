#pragma once
// WebP files through libwebp, which GDI+ has no codec for: decoded into a bitmap, and encoded
// lossy at quality 100.
#include "common/imaging.h"
#include "core/colour_profile.h"
#include "core/webp.h"

// A WebP's first frame decoded by decodeWebpPixels into a new 32-bit ARGB bitmap. `failed`, with
// `result` empty, also for a size GDI+ cannot hold; `outOfMemory` when the bitmap or libwebp's
// memory cannot be had.
DecodeOutcome decodeWebp(ByteSpan file, imaging::GdiBitmap& result);

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB, its alpha kept) to `path`
// as encodeWebp makes it, replacing what the file held. False when it cannot be encoded or written.
bool writeWebp(imaging::GpBitmap* picture, const char* path, const ColourProfile& colourProfile);
