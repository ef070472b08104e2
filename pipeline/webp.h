#pragma once
// WebP files through libwebp, which GDI+ has no codec for: decoded into a bitmap, and encoded
// lossy at quality 100.
#include "common/win32/imaging.h"
#include "core/colour_profile.h"
#include "core/source.h"
#include "core/webp.h"

// A WebP's first frame decoded by decodeWebpPixels into a new 32-bit ARGB bitmap, as
// decodeIntoBitmap makes it.
Outcome decodeWebp(ByteSpan file, imaging::GdiBitmap& result, const Cancellation& cancellation = neverCancelled());

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB, its alpha kept) to `path`
// as encodeWebp makes it, replacing what the file held. outOfMemory when its pixels cannot be
// had, notWritten when it cannot be encoded or written.
Outcome writeWebp(imaging::GpBitmap* picture, const wchar_t* path, const CarriedMetadata& carried);
