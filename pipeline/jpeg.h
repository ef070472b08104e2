#pragma once
// JPEG files through libjpeg-turbo, several times faster than the imaging library's codec:
// decoding straight into a bitmap's pixels, and encoding at quality 100, which Wine's GDI+
// encoder ignores. Every other format stays with GDI+.
#include "common/win32/imaging.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_encoder.h"
#include "core/source.h"

#include <cstdint>
#include <vector>

// A JPEG decoded by decodeJpegPixels into a new bitmap, as decodeIntoBitmap makes it: 24-bit RGB
// for colour and grey pictures, 32-bit RGB for ink ones.
Outcome decodeJpeg(ByteSpan file, const JpegHeader& header, imaging::GdiBitmap& result, const ReducedView& view = {},
                   const Cancellation& cancellation = neverCancelled());

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB with its alpha
// dropped) to `path` as a baseline JPEG at quality 100 with 4:2:0 chroma, replacing what the
// file held, streaming to it as it encodes, with the profile and Exif `carried` holds as JpegRowWriter writes them.
// outOfMemory when its pixels cannot be had, notWritten when it cannot be encoded or written.
Outcome writeJpeg(imaging::GpBitmap* picture, const wchar_t* path, const CarriedMetadata& carried = {});
